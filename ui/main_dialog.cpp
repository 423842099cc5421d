// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/main_dialog.h"

#include "controls/gradient_progress_ctrl.h"
#include "controls/status_line.h"
#include "core/run_batch.h"
#include "files/row_failure.h"
#include "platform/data_exchange.h"
#include "platform/focus_frame.h"
#include "platform/key_repeat_drop.h"
#include "platform/message_box.h"
#include "platform/radio_keyboard_group.h"
#include "platform/shell_open.h"
#include "platform/spin_button.h"
#include "platform/system_menu.h"
#include "ui/about_dialog.h"
#include "ui/folder_picker.h"
#include "ui/main_dialog_template.h"
#include "ui/string_table.h"
#include "viewer/doc_viewer_control.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>

namespace {

// The controls that "Page range" enables together, in the order they are switched.
constexpr int kPageRangeControls[] = {MainControl::kFromPage,   MainControl::kToPage,
                                      MainControl::kToPageSpin, MainControl::kFromPageSpin,
                                      MainControl::kFromLabel,  MainControl::kToLabel};

// Spin buttons with their ranges and buddies, in set-up order.
struct SpinSetUp {
    int spin;
    int32_t lower;
    int32_t upper;
    int buddy;
};
// The spin buttons start at 1; the resolutions and the quality end where their fields' checks
// end, the page numbers at the largest value a spin button holds.
constexpr int32_t kLargestSpinValue = 32767;
const SpinSetUp kSpinSetUps[] = {
    {MainControl::kXResolutionSpin, 1, int32_t(FieldRange(SettingsField::XResolution).upper),
     MainControl::kXResolution},
    {MainControl::kYResolutionSpin, 1, int32_t(FieldRange(SettingsField::YResolution).upper),
     MainControl::kYResolution},
    {MainControl::kFromPageSpin, 1, kLargestSpinValue, MainControl::kFromPage},
    {MainControl::kToPageSpin, 1, kLargestSpinValue, MainControl::kToPage},
    {MainControl::kJpegQualitySpin, 1, int32_t(FieldRange(SettingsField::JpegQuality).upper),
     MainControl::kJpegQuality},
};

constexpr int kBitCountIndexOf8 = 3;

// The captions that name the fields and lists for screen readers, as the template shows them.
struct Caption {
    int control;
    const char *text;
};
const Caption kCaptions[] = {
    {MainControl::kFileType, "File type:"},      {MainControl::kDestination, "Destination folder"},
    {MainControl::kXResolution, "X Resolution"}, {MainControl::kYResolution, "Y Resolution"},
    {MainControl::kFromPage, "From:"},           {MainControl::kToPage, "To:"},
    {MainControl::kJpegQuality, "Quality"},      {MainControl::kBitCount, "Image bitcount"},
};

// Names of the controls that no caption names. The status line is named by what it says.
struct Name {
    int control;
    const char *text;
};
const Name kNames[] = {
    {MainControl::kFileList, "PDF files"},
    {MainControl::kViewer, "Preview"},
    {MainControl::kProgress, "Progress"},
};

} // namespace

QPoint MinimizedIconPosition(const QSize &client, const QSize &icon)
{
    return QPoint((client.width() - icon.width() + 1) / 2,
                  (client.height() - icon.height() + 1) / 2);
}

QString HelpFilePath(const QString &executablePath, const QString &name)
{
    QString folder = executablePath.left(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + name;
}

MainDialog::MainDialog(QWidget *parent)
    : TemplateDialog(MainDialogTemplate(), parent), FileListOperations(this),
      appIcon(QStringLiteral(":/pagemint.png")), frontEndPath(OwnExecutablePath()),
      fileOpener([](const QString &path) { ShellOpen(path); })
{
}

MainDialog::~MainDialog()
{
    DetachSystemImageLists();
}

QWidget *MainDialog::CreateCustomControl(const ControlTemplate &control)
{
    if (control.id == MainControl::kProgress)
        return new GradientProgressCtrl(this);
    if (control.id == MainControl::kViewer)
        return new DocViewerControl(this);
    if (control.id == MainControl::kStatus)
        return new StatusLine(QString::fromUtf8(control.text), this);
    return nullptr;
}

void MainDialog::ConnectMessageTable()
{
    OnClicked(MainControl::kExit, &MainDialog::OnExit);
    // The list operations live in a base class that is not the first: a pointer to them converted
    // to a MainDialog member would be called on the wrong object type, so they go through lambdas.
    connect(Item<QAbstractButton>(MainControl::kAdd), &QAbstractButton::clicked, this,
            [this] { OnAdd(); });
    connect(Item<QTreeWidget>(MainControl::kFileList), &QTreeWidget::clicked, this,
            [this](const QModelIndex &index) { OnClickFileList(index.row()); });
    OnClicked(MainControl::kConvert, &MainDialog::OnConvert);
    OnClicked(MainControl::kBrowse, &MainDialog::OnBrowse);
    connect(Item<QAbstractButton>(MainControl::kRemove), &QAbstractButton::clicked, this,
            [this] { OnRemove(); });
    connect(Item<QAbstractButton>(MainControl::kRemoveAll), &QAbstractButton::clicked, this,
            [this] { OnRemoveAll(); });
    OnClicked(MainControl::kAbout, &MainDialog::OpenAboutBox);
    OnClicked(MainControl::kPageRange, &MainDialog::OnPageRangeClicked);
    for (const CompressionEntry &button : kCompressionTable) {
        connect(Item<QAbstractButton>(button.controlId), &QAbstractButton::clicked, this,
                [this, code = button.code] { OnCompressionClicked(code); });
    }
    connect(Item<QComboBox>(MainControl::kBitCount), &QComboBox::activated, this,
            &MainDialog::OnBitCountChanged);
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { WinHelp(0, 0); });
}

void MainDialog::OnClicked(int id, void (MainDialog::*handler)())
{
    connect(Item<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
}

bool MainDialog::OnInitDialog()
{
    // 1. The dialog's own set-up: the lists are filled, the settings shown, the controls bound.
    TemplateDialog::OnInitDialog();
    ConnectMessageTable();

    // 2. The window menu's About item.
    if (SystemMenu *menu = GetSystemMenu()) {
        const QString about = LoadResourceString(IDS_ABOUTBOX);
        if (!about.isEmpty()) {
            menu->AppendSeparator();
            menu->AppendItem(IDM_ABOUTBOX, about);
        }
    }

    // 3. Icons.
    setWindowIcon(appIcon);

    // 4. The file list, then the spin buttons.
    InitFileList();
    SetUpSpinButtons();

    // 5. The file icons.
    AttachSystemImageLists();

    // 6. Progress bar.
    progress->SetRange(0, 100);
    progress->showPercent = true;

    // 7. The settings once more, now that the spin buttons are in place.
    UpdateData(false);

    // 8-10. Enabling rules and the compression check marks.
    OnPageRangeClicked();
    ShowCompression();
    EnableItem(MainControl::kGrayscale, settings.bitCountIndex == kBitCountIndexOf8);

    // 11. Files dropped on the window.
    DragAcceptFiles(true);

    SetUpAccessibility();

    // 12. Focus on the first tab stop, the file list.
    return true;
}

void MainDialog::SetUpAccessibility()
{
    for (const Caption &caption : kCaptions)
        NameControlByCaption(caption.control, QString::fromUtf8(caption.text));
    for (const Name &name : kNames)
        GetDlgItem(name.control)->setAccessibleName(QString::fromUtf8(name.text));
    // The template gives the compression buttons no tab stop; the keyboard reaches them as
    // one radio group.
    std::vector<QAbstractButton *> compression;
    for (const CompressionEntry &button : kCompressionTable)
        compression.push_back(Item<QAbstractButton>(button.controlId));
    new RadioKeyboardGroup(compression, this);
    // Neither an empty list nor the viewer's page panel shows a focus of its own.
    ShowFocusFrameAround(GetDlgItem(MainControl::kFileList));
    ShowFocusFrameAround(GetDlgItem(MainControl::kViewer));
}

void MainDialog::DoDataExchange(DataExchange &dx)
{
    dx.Bind(MainControl::kProgress, progress);
    // The file list (1030) and the viewer (1036) are reached through FileListOperations,
    // which looks them up by id, so they need no member here.
    const ValueRange quality = FieldRange(SettingsField::JpegQuality);
    const ValueRange xResolution = FieldRange(SettingsField::XResolution);
    const ValueRange yResolution = FieldRange(SettingsField::YResolution);
    dx.Text(MainControl::kJpegQuality, settings.jpegQuality);
    dx.Range(settings.jpegQuality, quality.lower, quality.upper);
    dx.Text(MainControl::kXResolution, settings.xResolution);
    dx.Range(settings.xResolution, xResolution.lower, xResolution.upper);
    dx.Check(MainControl::kMultiPage, settings.multiPage);
    dx.Text(MainControl::kFromPage, settings.fromPage);
    dx.Text(MainControl::kToPage, settings.toPage);
    dx.ListIndex(MainControl::kBitCount, settings.bitCountIndex);
    dx.ListIndex(MainControl::kFileType, settings.fileTypeIndex);
    dx.Check(MainControl::kPageRange, settings.pageRange);
    dx.Check(MainControl::kGrayscale, settings.grayscale);
    dx.Text(MainControl::kYResolution, settings.yResolution);
    dx.Range(settings.yResolution, yResolution.lower, yResolution.upper);
}

void MainDialog::OnSysCommand(uint32_t id, intptr_t param)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX)
        OpenAboutBox();
    else
        TemplateDialog::OnSysCommand(id, param);
}

void MainDialog::paintEvent(QPaintEvent *event)
{
    if (!isMinimized()) {
        TemplateDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const QSize icon(extent, extent);
    painter.drawPixmap(MinimizedIconPosition(size(), icon), appIcon.pixmap(icon));
}

void MainDialog::OnExit()
{
    OnCancel();
}

void MainDialog::OpenAboutBox()
{
    AboutDialog box(this);
    box.DoModal();
}

void MainDialog::OnBrowse()
{
    BrowseForDestination(this, Item<QLineEdit>(MainControl::kDestination));
}

void MainDialog::WinHelp(uint32_t, uint32_t)
{
    OpenHelpFile(QStringLiteral("help.htm"));
}

void MainDialog::OpenHelpFile(const QString &name)
{
    fileOpener(HelpFilePath(QFile::decodeName(frontEndPath.c_str()), name));
}

void MainDialog::SetUpSpinButtons()
{
    for (const SpinSetUp &setUp : kSpinSetUps) {
        auto *spin = Item<SpinButton>(setUp.spin);
        spin->SetRange(setUp.lower, setUp.upper);
        spin->SetBuddy(Item<QLineEdit>(setUp.buddy));
    }
}

void MainDialog::ShowCompression()
{
    for (const CompressionEntry &button : kCompressionTable)
        Item<QAbstractButton>(button.controlId)->setChecked(settings.compression == button.code);
}

void MainDialog::OnCompressionClicked(int32_t code)
{
    settings.compression = code;
    ShowCompression();
}

void MainDialog::OnPageRangeClicked()
{
    UpdateData(true);
    for (int id : kPageRangeControls)
        EnableItem(id, settings.pageRange != 0);
}

void MainDialog::OnBitCountChanged()
{
    UpdateData(true);
    EnableItem(MainControl::kGrayscale, settings.bitCountIndex == kBitCountIndexOf8);
}

void MainDialog::OnConvert()
{
    if (batchRunning)
        return;
    batchRunning = true;
    convertLostFocus = false;
    RunBatch(*this, settings, frontEndPath, processRunner);
    // Input that came while the last engine ran belongs to the run, as at the dispatches
    // between rows: Enter pressed then must not end the window once the run is done.
    {
        const KeyRepeatDrop heldKeys;
        SuspendDialogKeys(true);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        SuspendDialogKeys(false);
    }
    batchRunning = false;
    // The focus goes back to Convert if the run took it from there and nobody put it elsewhere.
    QWidget *convert = GetDlgItem(MainControl::kConvert);
    if (convertLostFocus && !focusWidget() && convert->isEnabled())
        convert->setFocus(Qt::OtherFocusReason);
    convertLostFocus = false;
}

void MainDialog::EnableItem(int id, bool enable)
{
    if (QWidget *item = GetDlgItem(id))
        item->setEnabled(enable);
}

bool MainDialog::ReadSettings()
{
    return UpdateData(true);
}

void MainDialog::EnableConvert(bool enable)
{
    // Disabling the focused button would hand the focus on to the next tab stop (About), where
    // a screen reader would announce it and a key pressed next would act on it. The focus
    // waits with the window instead and returns to Convert when the run ends.
    QWidget *convert = GetDlgItem(MainControl::kConvert);
    if (!enable && convert->hasFocus()) {
        convertLostFocus = true;
        convert->clearFocus();
    }
    EnableItem(MainControl::kConvert, enable);
}

void MainDialog::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void MainDialog::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

int32_t MainDialog::GetRowCount()
{
    return FileListOperations::GetRowCount();
}

std::optional<std::string> MainDialog::GetRowPath(int32_t row)
{
    return FileListOperations::GetRowPath(row);
}

std::string MainDialog::GetDestinationText()
{
    return QFile::encodeName(Item<QLineEdit>(MainControl::kDestination)->text()).toStdString();
}

std::string MainDialog::GetFileTypeText()
{
    // The list's entries are the output type table's, in table order.
    return FileTypeText(Item<QComboBox>(MainControl::kFileType)->currentIndex());
}

void MainDialog::SetStatusText(const std::string &text)
{
    Item<StatusLine>(MainControl::kStatus)->SetStatus(QFile::decodeName(text.c_str()));
}

void MainDialog::SetProgressPos(int32_t pos)
{
    progress->SetPos(pos);
}

void MainDialog::DispatchPendingMessages()
{
    // Keys handled here reach the focused control as plain input: Enter or Esc in the middle
    // of a run must not end the window, nor Tab move the focus. A key held through the wait
    // counts once, not once for each repeat that piled up.
    const KeyRepeatDrop heldKeys;
    SuspendDialogKeys(true);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    SuspendDialogKeys(false);
    if (batchRunning)
        EnableConvert(false);
}

void MainDialog::KeepAliveWhileWaiting()
{
    // Painting only. Input waits for the next dispatch between rows, and so do timers: a spin
    // arrow pressed at the dispatch would otherwise go on stepping until the engine ends.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::X11ExcludeTimers);
}

void MainDialog::ClearRowFailures()
{
    if (QTreeWidget *list = FileList())
        ::ClearRowFailures(*list);
}

void MainDialog::ReportRowFailure(int32_t row, const std::string &input, const std::string &reason)
{
    ShowConversionFailure(*this, row, input, reason);
}
