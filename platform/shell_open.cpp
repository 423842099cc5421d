// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/shell_open.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace {

UrlOpener &CurrentOpener()
{
    static UrlOpener opener = [](const QUrl &url) { return RunDesktopOpener(url); };
    return opener;
}

// The opener's exit statuses: 1 bad invocation, 2 file missing, 3 no handler or helper program
// found, 4 the handler found failed.
int LaunchCodeFromOpenerStatus(int status)
{
    if (!WIFEXITED(status))
        return LaunchCode::OutOfResources;
    switch (WEXITSTATUS(status)) {
    case 0:
        return LaunchCode::Success;
    case 2:
        return LaunchCode::FileNotFound;
    case 3:
        return LaunchCode::NoAssociation;
    default:
        return LaunchCode::AssociationIncomplete;
    }
}

// A target with a scheme of two or more letters is a URL; anything else ("/a/b", "a.htm",
// "C:/x") is a path of the local file system.
bool IsUrl(const QString &target)
{
    const QUrl url(target);
    return url.isValid() && url.scheme().size() > 1;
}

int CheckLocalFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QFileInfo(info.absolutePath()).isDir() ? LaunchCode::FileNotFound
                                                      : LaunchCode::PathNotFound;
    if (!info.isReadable())
        return LaunchCode::AccessDenied;
    return LaunchCode::Success;
}

} // namespace

int RunDesktopOpener(const QUrl &url, std::chrono::milliseconds verdictWait)
{
    QByteArray program("xdg-open");
    QByteArray argument = url.toEncoded();
    char *argv[] = {program.data(), argument.data(), nullptr};

    // Its messages would mix with the engine command lines on standard error; the user learns
    // of a failure from the launch code instead.
    posix_spawn_file_actions_t files;
    if (posix_spawn_file_actions_init(&files) != 0)
        return LaunchCode::OutOfResources;
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session: a browser it starts outlives us and ignores our terminal's signals.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &files, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (error == ENOENT)
        return LaunchCode::NoAssociation;
    if (error != 0)
        return LaunchCode::OutOfResources;

    // A failing opener ends within moments; one that has found its handler may stay until the
    // handler ends, which can be much later.
    const auto deadline = std::chrono::steady_clock::now() + verdictWait;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return LaunchCodeFromOpenerStatus(status);
        if (ended < 0 && errno != EINTR)
            return LaunchCode::Success;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return LaunchCode::Success;
}

UrlOpener SetUrlOpener(UrlOpener opener)
{
    UrlOpener previous = std::move(CurrentOpener());
    CurrentOpener() = std::move(opener);
    return previous;
}

int ShellOpen(const QString &target)
{
    if (target.isEmpty())
        return LaunchCode::FileNotFound;
    QUrl url;
    if (IsUrl(target)) {
        url = QUrl(target);
        if (url.isLocalFile()) {
            const int code = CheckLocalFile(url.toLocalFile());
            if (code <= 32)
                return code;
        }
    } else {
        const int code = CheckLocalFile(target);
        if (code <= 32)
            return code;
        url = QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
    }
    return CurrentOpener()(url);
}
