// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/open_file_dialog.h"

#include "platform/file_name_bytes.h"
#include "platform/message_box.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {

// The dialog adds its default extension to a typed name itself, so that the name finds an
// existing file whatever the case of that file's extension, and it hands out the exact bytes of
// the names chosen, which Qt's own answer, made of text, may have lost.
class OpenFileDialog : public QFileDialog {
public:
    OpenFileDialog(const OpenFileRequest &request)
        : QFileDialog(request.owner, request.title, request.initialDir),
          defaultExtension_(QFile::encodeName(request.defaultSuffix).toStdString())
    {
        // Only this dialog's own name field goes through accept() below.
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setAcceptMode(QFileDialog::AcceptOpen);
        setNameFilters(request.filters);
    }

    const std::vector<std::string> &Chosen() const { return chosen_; }

    void accept() override
    {
        std::vector<std::string> chosen;
        QStringList lost;
        for (const QString &file : selectedFiles()) {
            const QFileInfo info(file);
            if (info.isDir()) {
                // Opening a folder is the dialog's own business.
                QFileDialog::accept();
                return;
            }
            std::optional<std::string> path =
                RecoverPathBytes(QFile::encodeName(file).toStdString());
            if (!path) {
                lost << file;
                continue;
            }
            if (!PathExists(*path) && !defaultExtension_.empty() &&
                !info.fileName().contains(QLatin1Char('.'))) {
                path = FindWithExtension(*path, defaultExtension_);
            }
            if (!path || !PathExists(*path)) {
                // The dialog says which name it cannot find.
                QFileDialog::accept();
                return;
            }
            chosen.push_back(*path);
        }
        if (!lost.isEmpty()) {
            ShowAppMessage(this, QStringLiteral("These files cannot be opened because their names "
                                                "could not be read exactly:\n%1")
                                     .arg(lost.join(QLatin1Char('\n'))));
            return;
        }
        chosen_ = std::move(chosen);
        QDialog::accept();
    }

private:
    std::string defaultExtension_;
    std::vector<std::string> chosen_;
};

} // namespace

std::optional<FileSelection> ShowOpenFileDialog(const OpenFileRequest &request)
{
    OpenFileDialog dialog(request);
    if (dialog.exec() != QDialog::Accepted || dialog.Chosen().empty()) {
        return std::nullopt;
    }
    return SelectionFromPaths(dialog.Chosen(), PathStyle::Posix);
}
