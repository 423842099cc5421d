// SPDX-License-Identifier: AGPL-3.0-or-later
// The real front-end on a real X server (or a Wayland compositor: wayland_desktop.h): started as
// its own process from a copy beside a stand-in engine, driven with real X input (xdotool),
// watched through its windows (xdotool, xwininfo), the files the stand-in engine writes and the
// profile file.
#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

// Test failures show texts as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace desktop {

// Runs a program to its end (at most 20 s) and returns its standard output.
QString Run(const QString &program, const QStringList &arguments);

// Polls until the condition holds or the time is up; returns whether it held.
bool WaitFor(const std::function<bool()> &condition, int timeoutMs);

// Where a window lies on the screen: its client area and the window manager's frame around it.
struct WindowPlace {
    QRect client;
    QRect frame;
};
std::optional<WindowPlace> PlaceOf(const QString &window);

// Visible top-level windows of a process, optionally only those whose title matches the
// regular expression.
QStringList VisibleWindows(qint64 pid, const QString &titlePattern = QString());

// Waits until the window manager has given the window the focus, so keys sent now reach it.
bool WaitForActiveWindow(const QString &window, int timeoutMs);

// The name by which docks tie the window to its desktop entry: the class of its WM_CLASS on
// X11, its app id on Wayland.
QString WindowClass(const QString &window);

// Closes the window as its title bar's close button does.
void RequestClose(const QString &window);

// What the screen shows in the area, as the display server composes it.
QImage Screenshot(const QRect &area);

void Click(const QPoint &screenPoint);
void MouseDown(const QPoint &screenPoint);
void MouseUp();
void Key(const QString &keys);
void Type(const QString &text);

// A control of a template dialog, measured on a dialog built in this process with the same
// fonts and screen, in the dialog's client coordinates.
QRect MainControlRect(int id);
QRect AboutControlRect(int id);

class Session {
public:
    Session();
    ~Session();
    bool IsValid() const;

    QString Path(const QString &relative) const { return work.filePath(relative); }

    // Writes a one-page PDF document.
    QString MakePdf(const QString &name);
    // The stand-in engine sleeps this long per file; 0 makes it return at once.
    void SetEngineDelay(double seconds);
    // Puts the real engine beside the front-end in place of the stand-in.
    bool UseRealEngine();
    // A stand-in for the desktop's opener on PATH that exits with this status; without one,
    // PATH holds no opener at all.
    void InstallOpener(int exitStatus);
    void WriteProfile(const QString &key, const QString &value);
    QString ReadProfile(const QString &key) const;

    // Starts the copy of the front-end and waits for its main window.
    bool Start();
    qint64 Pid() const { return process.processId(); }
    bool IsRunning() const { return process.state() != QProcess::NotRunning; }
    bool WaitForExit(int timeoutMs);
    QString MainWindow() const { return mainWindow; }
    QPoint MainControlCentre(int id) const;
    // The front-end's standard error so far.
    QString ErrorOutput();

    // Every engine start: its argument vector, program first.
    std::vector<QStringList> EngineCalls() const;
    bool WaitForEngineCalls(size_t count, int timeoutMs) const;

    // Drags the files from a drag source in another process onto the file list; returns the
    // action the list chose, as the drag source reports it.
    QString DropFromOtherProcess(const QStringList &files);

private:
    QTemporaryDir work{QStringLiteral(PAGEMINT_DESKTOP_WORK_DIR "/session-XXXXXX")};
    QProcess process;
    QString mainWindow;
    QByteArray stderrText;
};

} // namespace desktop
