// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/shell_open.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace {

UrlOpener &CurrentOpener()
{
    static UrlOpener opener = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    return opener;
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
    return CurrentOpener()(url) ? LaunchCode::Success : LaunchCode::NoAssociation;
}
