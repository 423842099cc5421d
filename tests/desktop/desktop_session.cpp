// SPDX-License-Identifier: AGPL-3.0-or-later
#include "desktop_session.h"

#include "render/test_pdf.h"
#include "ui/about_dialog.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "wayland_desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace desktop {

namespace {

// Stands in for the engine beside the copied front-end: appends its program path and arguments,
// NUL-separated, as one line to calls.log, then sleeps as long as the file "delay" says.
// The window's document helper is the same program in another mode: that one is the real one.
const char kStandInEngine[] = R"sh(#!/bin/sh
PATH=/usr/bin:/bin
if [ "$1" = --serve ]; then exec "$(dirname "$0")/real-rastool" "$@"; fi
dir="$(dirname "$0")"
for a in "$0" "$@"; do printf '%s\0' "$a" >> "$dir/calls.log"; done
printf '\n' >> "$dir/calls.log"
if [ -s "$dir/delay" ]; then sleep "$(cat "$dir/delay")"; fi
exit 0
)sh";

bool WriteFile(const QString &path, const QByteArray &content, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool written = file.write(content) == content.size();
    file.close();
    if (executable)
        return written &&
               file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return written;
}

int Field(const QString &text, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) +
                                     QStringLiteral(":\\s*(-?\\d+)"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

std::optional<QRect> AbsoluteRect(const QString &window)
{
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    const int width = Field(info, QStringLiteral("Width"));
    if (width < 0)
        return std::nullopt;
    return QRect(Field(info, QStringLiteral("Absolute upper-left X")),
                 Field(info, QStringLiteral("Absolute upper-left Y")), width,
                 Field(info, QStringLiteral("Height")));
}

QString Coordinate(int value)
{
    return QString::number(value);
}

// The server takes requests in order, so a click sent after the move lands where it moved to.
// (Waiting for the move to be seen hangs when the pointer is already there.)
void MoveTo(const QPoint &point)
{
    if (wayland::Active())
        return wayland::MoveTo(point);
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), Coordinate(point.x()), Coordinate(point.y())});
}

QRect RectIn(const TemplateDialog &dialog, int id)
{
    const QWidget *item = dialog.GetDlgItem(id);
    return item ? QRect(item->mapTo(&dialog, QPoint(0, 0)), item->size()) : QRect();
}

} // namespace

QString Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

std::optional<WindowPlace> PlaceOf(const QString &window)
{
    if (wayland::Active()) {
        const std::optional<wayland::Place> place = wayland::PlaceOf(window);
        return place ? std::optional(WindowPlace{place->client, place->frame}) : std::nullopt;
    }
    const std::optional<QRect> client = AbsoluteRect(window);
    if (!client)
        return std::nullopt;
    // The window manager puts each window into a frame window of its own, the client's parent.
    const QString tree =
        Run(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"), window});
    const QRegularExpressionMatch parent =
        QRegularExpression(
            QStringLiteral("Parent window id: (0x[0-9a-f]+)( \\(the root window\\))?"))
            .match(tree);
    std::optional<QRect> frame;
    if (parent.hasMatch() && parent.captured(2).isEmpty())
        frame = AbsoluteRect(parent.captured(1));
    return WindowPlace{*client, frame.value_or(*client)};
}

QStringList VisibleWindows(qint64 pid, const QString &titlePattern)
{
    if (wayland::Active())
        return wayland::VisibleWindows(pid, titlePattern);
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--pid"), QString::number(pid)};
    if (!titlePattern.isEmpty())
        arguments << QStringLiteral("--all") << QStringLiteral("--name") << titlePattern;
    return Run(QStringLiteral("xdotool"), arguments).split('\n', Qt::SkipEmptyParts);
}

bool WaitForActiveWindow(const QString &window, int timeoutMs)
{
    return WaitFor(
        [&] {
            if (wayland::Active())
                return wayland::ActiveWindow() == window;
            return Run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed() ==
                   window;
        },
        timeoutMs);
}

QString WindowClass(const QString &window)
{
    if (wayland::Active())
        return wayland::AppId(window);
    // WM_CLASS(STRING) = "instance", "class"
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("\"([^\"]*)\"$"))
            .match(Run(QStringLiteral("xprop"),
                       {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")})
                       .trimmed());
    return match.captured(1);
}

QImage Screenshot(const QRect &area)
{
    QProcess grabber;
    if (wayland::Active())
        grabber.start(QStringLiteral("grim"), {QStringLiteral("-g"),
                                               QStringLiteral("%1,%2 %3x%4")
                                                   .arg(area.x())
                                                   .arg(area.y())
                                                   .arg(area.width())
                                                   .arg(area.height()),
                                               QStringLiteral("-")});
    else
        grabber.start(QStringLiteral("import"),
                      {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                       QStringLiteral("%1x%2+%3+%4")
                           .arg(area.width())
                           .arg(area.height())
                           .arg(area.x())
                           .arg(area.y()),
                       QStringLiteral("png:-")});
    if (!grabber.waitForFinished(20000)) {
        grabber.kill();
        grabber.waitForFinished();
        return QImage();
    }
    return QImage::fromData(grabber.readAllStandardOutput(), "PNG");
}

void RequestClose(const QString &window)
{
    if (wayland::Active())
        return wayland::RequestClose(window);
    // The close button sits at the right end of the frame's title bar.
    const std::optional<WindowPlace> place = PlaceOf(window);
    if (!place)
        return;
    const int titleHeight = place->client.top() - place->frame.top();
    Click(QPoint(place->frame.right() - 12, place->frame.top() + titleHeight / 2));
}

void Click(const QPoint &screenPoint)
{
    MoveTo(screenPoint);
    if (wayland::Active()) {
        wayland::Press();
        return wayland::Release();
    }
    Run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
}

void MouseDown(const QPoint &screenPoint)
{
    MoveTo(screenPoint);
    if (wayland::Active())
        return wayland::Press();
    Run(QStringLiteral("xdotool"), {QStringLiteral("mousedown"), QStringLiteral("1")});
}

void MouseUp()
{
    if (wayland::Active())
        return wayland::Release();
    Run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
}

void Key(const QString &keys)
{
    if (wayland::Active())
        return wayland::Key(keys);
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")};
    arguments << keys.split(' ', Qt::SkipEmptyParts);
    Run(QStringLiteral("xdotool"), arguments);
}

void Type(const QString &text)
{
    if (wayland::Active())
        return wayland::Type(text);
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), text});
}

QRect MainControlRect(int id)
{
    static MainDialog *dialog = [] {
        auto *built = new MainDialog;
        built->Create();
        return built;
    }();
    return RectIn(*dialog, id);
}

QRect AboutControlRect(int id)
{
    static AboutDialog *dialog = [] {
        auto *built = new AboutDialog;
        built->Create();
        return built;
    }();
    return RectIn(*dialog, id);
}

Session::Session()
{
    if (!work.isValid())
        return;
    QDir root(work.path());
    for (const char *folder : {"app", "bin", "config", "etc", "data", "share", "home", "runtime"})
        root.mkpath(folder);
    QFile::setPermissions(Path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Another build of the front-end can be put to the same tests, such as one from before a
    // change, to see them fail there.
    const QString frontEnd = qEnvironmentVariable("PAGEMINT_FRONT_END_UNDER_TEST",
                                                  QStringLiteral(PAGEMINT_BIN_DIR "/pagemint"));
    QFile::copy(frontEnd, Path("app/pagemint"));
    WriteFile(Path("app/rastool"), kStandInEngine, true);
    QFile::link(QStringLiteral(PAGEMINT_BIN_DIR "/rastool"), Path("app/real-rastool"));
}

Session::~Session()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool Session::IsValid() const
{
    return work.isValid() && QFileInfo(work.filePath("app/pagemint")).isExecutable() &&
           QFileInfo(work.filePath("app/rastool")).isExecutable();
}

QString Session::MakePdf(const QString &name)
{
    testpdf::Page page;
    page.Rect(72, 72, 200, 100, {200, 30, 30});
    const std::string pdf = testpdf::MakePdf({page});
    const QString path = Path(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    WriteFile(path, QByteArray(pdf.data(), int(pdf.size())));
    return path;
}

void Session::SetEngineDelay(double seconds)
{
    WriteFile(Path("app/delay"), seconds > 0 ? QByteArray::number(seconds) : QByteArray());
}

bool Session::UseRealEngine()
{
    QFile::remove(Path("app/rastool"));
    return QFile::copy(QStringLiteral(PAGEMINT_BIN_DIR "/rastool"), Path("app/rastool"));
}

void Session::InstallOpener(int exitStatus)
{
    WriteFile(
        Path("bin/xdg-open"),
        "#!/bin/sh\nPATH=/usr/bin:/bin\necho \"$*\" >> \"$(dirname \"$0\")/opened.log\"\nexit " +
            QByteArray::number(exitStatus) + "\n",
        true);
}

void Session::WriteProfile(const QString &key, const QString &value)
{
    QDir().mkpath(Path("config/pagemint"));
    QSettings profile(Path("config/pagemint/pagemint.ini"), QSettings::IniFormat);
    profile.setValue(QStringLiteral("Paramter/") + key, value);
}

QString Session::ReadProfile(const QString &key) const
{
    QSettings profile(work.filePath("config/pagemint/pagemint.ini"), QSettings::IniFormat);
    return profile.value(QStringLiteral("Paramter/") + key).toString();
}

bool Session::Start()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", wayland::Active() ? "wayland" : "xcb");
    environment.insert("HOME", Path("home"));
    environment.insert("XDG_CONFIG_HOME", Path("config"));
    environment.insert("XDG_CONFIG_DIRS", Path("etc"));
    environment.insert("XDG_DATA_HOME", Path("data"));
    environment.insert("XDG_DATA_DIRS", Path("share"));
    environment.insert("XDG_RUNTIME_DIR", Path("runtime"));
    environment.remove("XDG_CURRENT_DESKTOP");
    // Standard error is a pipe here, not the terminal a user starts the program from; what the
    // program would say there must still reach it and not a system log.
    environment.insert("QT_FORCE_STDERR_LOGGING", "1");
    // Only what the test puts there: no opener or browser of this machine is found.
    environment.insert("PATH", Path("bin"));
    process.setProcessEnvironment(environment);
    process.start(Path("app/pagemint"), {});
    if (!process.waitForStarted())
        return false;
    if (!WaitFor([&] { return !VisibleWindows(Pid(), QStringLiteral("Pagemint v")).isEmpty(); },
                 15000))
        return false;
    mainWindow = VisibleWindows(Pid(), QStringLiteral("Pagemint v")).front();
    if (!WaitForActiveWindow(mainWindow, 15000))
        return false;
    // The window is mapped before the program has painted it and can take input.
    QTest::qWait(300);
    return PlaceOf(mainWindow).has_value();
}

bool Session::WaitForExit(int timeoutMs)
{
    return WaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

QPoint Session::MainControlCentre(int id) const
{
    const std::optional<WindowPlace> place = PlaceOf(mainWindow);
    return place ? place->client.topLeft() + MainControlRect(id).center() : QPoint();
}

QString Session::ErrorOutput()
{
    stderrText += process.readAllStandardError();
    return QString::fromLocal8Bit(stderrText);
}

std::vector<QStringList> Session::EngineCalls() const
{
    std::vector<QStringList> calls;
    QFile log(work.filePath("app/calls.log"));
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList arguments;
        for (const QByteArray &argument : line.chopped(1).split('\0'))
            arguments << QFile::decodeName(argument);
        calls.push_back(arguments);
    }
    return calls;
}

bool Session::WaitForEngineCalls(size_t count, int timeoutMs) const
{
    return WaitFor([&] { return EngineCalls().size() >= count; }, timeoutMs);
}

QString Session::DropFromOtherProcess(const QStringList &files)
{
    const QString result = Path("drop-result");
    QFile::remove(result);
    QProcess source;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", wayland::Active() ? "wayland" : "xcb");
    environment.insert("XDG_RUNTIME_DIR", Path("runtime"));
    source.setProcessEnvironment(environment);
    source.start(QStringLiteral(PAGEMINT_DRAG_SOURCE), QStringList{result} + files);
    if (!source.waitForStarted())
        return QStringLiteral("drag source did not start");
    if (!WaitFor([&] { return !VisibleWindows(source.processId()).isEmpty(); }, 10000))
        return QStringLiteral("drag source showed no window");
    QTest::qWait(300);
    const std::optional<WindowPlace> from = PlaceOf(VisibleWindows(source.processId()).front());
    if (!from)
        return QStringLiteral("drag source window vanished");
    const QPoint start = from->client.center();
    const QPoint end = MainControlCentre(MainControl::kFileList);

    MouseDown(start);
    // The drag begins on the press; the pointer then travels to the list in steps, as a hand
    // moves it, and rests there long enough for both sides to agree on the action.
    constexpr int kSteps = 12;
    for (int step = 1; step <= kSteps; ++step) {
        MoveTo(start + (end - start) * step / kSteps);
        QTest::qWait(30);
    }
    for (int wiggle : {3, -3, 2, 0}) {
        MoveTo(end + QPoint(wiggle, wiggle));
        QTest::qWait(100);
    }
    MouseUp();
    WaitFor([&] { return QFileInfo::exists(result); }, 10000);
    if (!source.waitForFinished(5000))
        source.kill();
    QFile file(result);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                          : QStringLiteral("no result");
}

} // namespace desktop
