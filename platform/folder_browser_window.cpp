// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// True when a folder on the way from top down to path (path included) is a hidden one.
bool LiesInHiddenFolder(const QString &top, const QString &path)
{
    const QString below = top.isEmpty() ? path : QDir(top).relativeFilePath(path);
    const QStringList names = below.split('/', Qt::SkipEmptyParts);
    return std::any_of(names.begin(), names.end(),
                       [](const QString &name) { return name.startsWith('.') && name != ".."; });
}

} // namespace

bool FolderPathFromItem(const QString &item, QString *path)
{
    if (item.isEmpty() || !QFileInfo(item).isDir())
        return false;
    *path = item;
    return true;
}

FolderBrowserWindow::FolderBrowserWindow(QWidget *owner, const Options &opts)
    : QDialog(owner), options(opts), model(new QFileSystemModel(this)), tree(new QTreeView(this)),
      titleLabel(new QLabel(opts.title, this)),
      hiddenSwitch(new QCheckBox(tr("Show hidden folders"), this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Browse for Folder"));
    setModal(true);

    model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model->setReadOnly(true);
    model->setRootPath(options.rootPath);

    tree->setModel(model);
    // Only the folder names matter here; size, type and date columns would be noise.
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    if (!options.rootPath.isEmpty())
        tree->setRootIndex(model->index(options.rootPath));

    titleLabel->setWordWrap(true);
    titleLabel->setVisible(!options.title.isEmpty());

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel);
    if (options.statusLine) {
        statusLabel = new QLabel(this);
        statusLabel->setTextFormat(Qt::PlainText);
        // A long path is shortened to the line, never the window widened to the path.
        statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        statusLabel->setMinimumWidth(0);
        statusLabel->installEventFilter(this);
        layout->addWidget(statusLabel);
    }
    layout->addWidget(tree, 1);
    layout->addWidget(hiddenSwitch);
    layout->addWidget(buttons);
    resize(360, 420);

    connect(buttons, &QDialogButtonBox::accepted, this, &FolderBrowserWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FolderBrowserWindow::reject);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderBrowserWindow::OnCurrentChanged);
    // The model reads folders in the background, and every row it adds or re-sorts above the
    // selected folder pushes that folder down, out of view.
    connect(model, &QFileSystemModel::rowsInserted, this, &FolderBrowserWindow::RevealSelection);
    connect(model, &QFileSystemModel::layoutChanged, this, &FolderBrowserWindow::RevealSelection);
    connect(hiddenSwitch, &QCheckBox::toggled, this, &FolderBrowserWindow::ShowHiddenFolders);
    connect(tree->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { revealPath.clear(); });
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    UpdateConfirmButton();
}

bool FolderBrowserWindow::Run()
{
    if (onInitialized)
        onInitialized();
    // The window's own default selection, when its owner chose none: the user's home folder.
    if (!tree->currentIndex().isValid() && pendingPath.isEmpty())
        SelectFolder(QDir::homePath());
    return exec() == QDialog::Accepted;
}

void FolderBrowserWindow::SelectFolder(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString top = options.rootPath.isEmpty() ? QString() : QDir::cleanPath(options.rootPath);
    if (!top.isEmpty() && folder != top && !folder.startsWith(top == "/" ? top : top + '/'))
        return;
    pendingPath.clear();
    // A folder inside a hidden one is only in the tree while hidden folders are shown, and
    // the tree takes them in only once it has sorted its folders again.
    if (LiesInHiddenFolder(top, folder) && !hiddenSwitch->isChecked()) {
        hiddenSwitch->setChecked(true);
        pendingPath = folder;
        return;
    }
    const QModelIndex index = model->index(folder);
    if (!index.isValid())
        return;
    tree->setCurrentIndex(index);
    revealPath = folder;
    tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void FolderBrowserWindow::RevealSelection()
{
    if (!pendingPath.isEmpty()) {
        const QModelIndex index = model->index(pendingPath);
        if (index.isValid()) {
            pendingPath.clear();
            tree->setCurrentIndex(index);
            revealPath = model->filePath(index);
        }
    }
    if (revealPath.isEmpty())
        return;
    const QModelIndex index = tree->currentIndex();
    if (!index.isValid() || model->filePath(index) != revealPath) {
        revealPath.clear();
        return;
    }
    tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void FolderBrowserWindow::ShowHiddenFolders(bool show)
{
    if (hiddenSwitch->isChecked() != show) {
        hiddenSwitch->setChecked(show);
        return;
    }
    QDir::Filters filter = QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot;
    if (show)
        filter |= QDir::Hidden;
    model->setFilter(filter);
}

void FolderBrowserWindow::SetStatusText(const QString &text)
{
    if (!statusLabel)
        return;
    statusText = text;
    statusLabel->setToolTip(text);
    ElideStatusText();
}

void FolderBrowserWindow::ElideStatusText()
{
    const int room = statusLabel->contentsRect().width();
    statusLabel->setText(
        statusLabel->fontMetrics().elidedText(statusText, Qt::ElideMiddle, std::max(room, 0)));
}

QString FolderBrowserWindow::StatusText() const
{
    return statusLabel ? statusText : QString();
}

QString FolderBrowserWindow::ShownStatusText() const
{
    return statusLabel ? statusLabel->text() : QString();
}

void FolderBrowserWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    KeepWithinScreen();
}

void FolderBrowserWindow::KeepWithinScreen()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The frame around the window is the window manager's; leave room for it.
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize room = available.size() - frame;
    if (width() > room.width() || height() > room.height())
        resize(std::min(width(), room.width()), std::min(height(), room.height()));
    QRect outer = frameGeometry();
    outer.moveLeft(std::clamp(outer.left(), available.left(),
                              std::max(available.left(), available.right() - outer.width() + 1)));
    outer.moveTop(std::clamp(outer.top(), available.top(),
                             std::max(available.top(), available.bottom() - outer.height() + 1)));
    if (outer.topLeft() != frameGeometry().topLeft())
        move(outer.topLeft());
}

QString FolderBrowserWindow::SelectedPath() const
{
    const QModelIndex index = tree->currentIndex();
    return index.isValid() ? model->filePath(index) : QString();
}

bool FolderBrowserWindow::CanConfirm() const
{
    const QString path = SelectedPath();
    if (path.isEmpty())
        return false;
    QString folder;
    return !options.fileSystemFoldersOnly || FolderPathFromItem(path, &folder);
}

void FolderBrowserWindow::accept()
{
    // A folder can vanish while the window is open; the button state may be stale by now.
    if (!CanConfirm()) {
        UpdateConfirmButton();
        return;
    }
    QDialog::accept();
}

bool FolderBrowserWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == statusLabel) {
        if (event->type() == QEvent::Resize)
            ElideStatusText();
        return QDialog::eventFilter(watched, event);
    }
    // Once the user clicks, types or scrolls in the tree, where it shows is theirs to choose.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        revealPath.clear();
        pendingPath.clear();
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void FolderBrowserWindow::OnCurrentChanged()
{
    UpdateConfirmButton();
    if (onSelectionChanged)
        onSelectionChanged(SelectedPath());
}

void FolderBrowserWindow::UpdateConfirmButton()
{
    buttons->button(QDialogButtonBox::Ok)->setEnabled(CanConfirm());
}
