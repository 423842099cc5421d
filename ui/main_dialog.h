// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/batch_host.h"
#include "core/conversion_settings.h"
#include "core/run_process.h"
#include "files/file_list_operations.h"
#include "platform/dialog_template.h"

#include <QIcon>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <string>

class GradientProgressCtrl;

// The window menu's added item: "About", command ids 0x10 to 0x1F.
constexpr uint32_t IDM_ABOUTBOX = 0x0010;

// Where a minimised window draws its icon: centred in the client, halves truncated toward zero.
QPoint MinimizedIconPosition(const QSize &client, const QSize &icon);

// The help file `name` beside the executable at `executablePath`.
QString HelpFilePath(const QString &executablePath, const QString &name);

// The program's one window: the file list, the options and the batch run.
class MainDialog : public TemplateDialog, public FileListOperations, public BatchHost {
    Q_OBJECT
public:
    explicit MainDialog(QWidget *parent = nullptr);
    ~MainDialog() override;

    ConversionSettings &Settings() { return settings; }
    GradientProgressCtrl *Progress() const { return progress; }

    void OnSysCommand(uint32_t id, intptr_t param) override;
    void OnExit();
    void OpenAboutBox();
    void OnBrowse();
    void WinHelp(uint32_t context, uint32_t command);
    void OpenHelpFile(const QString &name);

    // Options panel.
    void SetUpSpinButtons();
    void ShowCompression();
    void OnCompressionClicked(int32_t code);
    void OnPageRangeClicked();
    void OnBitCountChanged();

    // The Convert button. A run dispatches pending events between rows, and an add handled
    // there enables Convert again: a click on it then must not start a second run inside the
    // first, so Convert stays disabled and ignored until the run has ended.
    void OnConvert();

    // BatchHost
    bool ReadSettings() override;
    void EnableConvert(bool enable) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    int32_t GetRowCount() override;
    std::optional<std::string> GetRowPath(int32_t row) override;
    std::string GetDestinationText() override;
    std::string GetFileTypeText() override;
    void SetStatusText(const std::string &text) override;
    void SetProgressPos(int32_t pos) override;
    void DispatchPendingMessages() override;
    void KeepAliveWhileWaiting() override;
    void ClearRowFailures() override;
    void ReportRowFailure(int32_t row, const std::string &input,
                          const std::string &reason) override;

    // Seams: what starts the engine, the path the engine is looked for beside, and what opens
    // a file with the desktop's program.
    void SetProcessRunner(ProcessRunner runner) { processRunner = std::move(runner); }
    void SetFrontEndPath(std::string path) { frontEndPath = std::move(path); }
    void SetFileOpener(std::function<void(const QString &)> opener)
    {
        fileOpener = std::move(opener);
    }

protected:
    QWidget *CreateCustomControl(const ControlTemplate &control) override;
    bool OnInitDialog() override;
    void DoDataExchange(DataExchange &exchange) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ConnectMessageTable();
    // Names for screen readers, the keyboard's way into the compression buttons, focus frames.
    void SetUpAccessibility();
    void OnClicked(int id, void (MainDialog::*handler)());
    void EnableItem(int id, bool enable);

    GradientProgressCtrl *progress = nullptr;
    ConversionSettings settings;
    QIcon appIcon;
    bool batchRunning = false;
    bool convertLostFocus = false;

    ProcessRunner processRunner = RunProcess;
    std::string frontEndPath;
    std::function<void(const QString &)> fileOpener;
};
