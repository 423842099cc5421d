// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/registered_browser.h"

#include "platform/shell_open.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Group = QList<std::pair<QString, QString>>;

// Resolves the escapes of a desktop-entry string value: \s \n \t \r \\.
QString UnescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        if (next == 's')
            out += ' ';
        else if (next == 'n')
            out += '\n';
        else if (next == 't')
            out += '\t';
        else if (next == 'r')
            out += '\r';
        else if (next == '\\')
            out += '\\';
        else
            out += QStringLiteral("\\") + next;
    }
    return out;
}

// The key/value lines of one [group] of a desktop-entry style file, in file order; nothing
// when the file cannot be read or has no such group.
std::optional<Group> ReadGroup(const QString &path, const QString &groupName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QTextStream in(&file);
    std::optional<Group> group;
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            inGroup = line.mid(1, line.size() - 2) == groupName;
            if (inGroup && !group)
                group.emplace();
            continue;
        }
        const int equals = line.indexOf('=');
        if (!inGroup || equals <= 0)
            continue;
        group->append({line.left(equals).trimmed(), line.mid(equals + 1).trimmed()});
    }
    return group;
}

std::optional<QString> Lookup(const Group &group, const QString &key)
{
    for (const auto &[name, value] : group) {
        if (name == key)
            return value;
    }
    return std::nullopt;
}

QStringList ApplicationDirs(const XdgDirs &dirs)
{
    QStringList result;
    if (!dirs.dataHome.isEmpty())
        result << dirs.dataHome + QStringLiteral("/applications");
    for (const QString &dir : dirs.dataDirs)
        result << dir + QStringLiteral("/applications");
    return result;
}

// The Exec line of an installed, usable desktop entry with this id.
std::optional<QString> EntryCommand(const QString &desktopId, const XdgDirs &dirs)
{
    if (desktopId.isEmpty() || desktopId.contains(QStringLiteral("..")))
        return std::nullopt;
    QStringList candidates{desktopId};
    // "vendor-app.desktop" may also be installed as "vendor/app.desktop".
    const int dash = desktopId.indexOf('-');
    if (dash > 0)
        candidates << QString(desktopId).replace(dash, 1, '/');
    for (const QString &dir : ApplicationDirs(dirs)) {
        for (const QString &candidate : candidates) {
            const QString path = dir + '/' + candidate;
            if (!QFileInfo(path).isFile())
                continue;
            const std::optional<Group> entry = ReadGroup(path, QStringLiteral("Desktop Entry"));
            if (!entry || Lookup(*entry, QStringLiteral("Hidden")) == QStringLiteral("true"))
                return std::nullopt;
            const std::optional<QString> exec = Lookup(*entry, QStringLiteral("Exec"));
            if (!exec || exec->isEmpty())
                return std::nullopt;
            return UnescapeValue(*exec);
        }
    }
    return std::nullopt;
}

QStringList AssociationLists(const XdgDirs &dirs)
{
    QStringList folders;
    folders << dirs.configHome << dirs.configDirs;
    if (!dirs.dataHome.isEmpty())
        folders << dirs.dataHome + QStringLiteral("/applications");
    for (const QString &dir : dirs.dataDirs)
        folders << dir + QStringLiteral("/applications");
    QStringList lists;
    for (const QString &folder : folders) {
        if (folder.isEmpty())
            continue;
        for (const QString &desktop : dirs.currentDesktops)
            lists << folder + '/' + desktop + QStringLiteral("-mimeapps.list");
        lists << folder + QStringLiteral("/mimeapps.list");
    }
    // The older per-data-folder defaults come after every mimeapps.list.
    for (const QString &dir : ApplicationDirs(dirs))
        lists << dir + QStringLiteral("/defaults.list");
    return lists;
}

QStringList SplitPathList(const QByteArray &value, const QString &fallback)
{
    const QString text = value.isEmpty() ? fallback : QString::fromLocal8Bit(value);
    QStringList result;
    for (const QString &part : text.split(':', Qt::SkipEmptyParts))
        result << QDir::cleanPath(part);
    return result;
}

int LaunchCodeFromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return LaunchCode::FileNotFound;
    case ENOTDIR:
        return LaunchCode::PathNotFound;
    case EACCES:
    case EPERM:
        return LaunchCode::AccessDenied;
    case ENOEXEC:
        return LaunchCode::BadFormat;
    default:
        return LaunchCode::OutOfResources;
    }
}

} // namespace

XdgDirs XdgDirs::FromEnvironment()
{
    const QString home = QDir::homePath();
    XdgDirs dirs;
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    dirs.configHome = configHome.isEmpty() ? home + QStringLiteral("/.config")
                                           : QString::fromLocal8Bit(configHome);
    dirs.configDirs = SplitPathList(qgetenv("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg"));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    dirs.dataHome = dataHome.isEmpty() ? home + QStringLiteral("/.local/share")
                                       : QString::fromLocal8Bit(dataHome);
    dirs.dataDirs =
        SplitPathList(qgetenv("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString &desktop :
         QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(':', Qt::SkipEmptyParts))
        dirs.currentDesktops << desktop.toLower();
    return dirs;
}

std::optional<QString> DefaultHandlerCommand(const QString &mimeType, const XdgDirs &dirs)
{
    for (const QString &list : AssociationLists(dirs)) {
        const std::optional<Group> defaults =
            ReadGroup(list, QStringLiteral("Default Applications"));
        if (!defaults)
            continue;
        const std::optional<QString> ids = Lookup(*defaults, mimeType);
        if (!ids)
            continue;
        for (const QString &id : ids->split(';', Qt::SkipEmptyParts)) {
            if (std::optional<QString> command = EntryCommand(id.trimmed(), dirs))
                return command;
        }
    }
    return std::nullopt;
}

namespace {

bool IsFileCode(QChar c)
{
    return c == 'u' || c == 'U' || c == 'f' || c == 'F';
}

// Position of the first file placeholder, quoted ("%u" with its quotes, position of the quote)
// or bare; -1 when there is none. An escaped percent sign ("%%") never starts a placeholder.
int FindPlaceholder(const QString &command, bool quoted)
{
    for (int i = 0; i + 1 < command.size(); ++i) {
        if (command[i] != '%')
            continue;
        if (command[i + 1] == '%') {
            ++i;
            continue;
        }
        if (!IsFileCode(command[i + 1]))
            continue;
        if (!quoted)
            return i;
        if (i > 0 && command[i - 1] == '"' && i + 2 < command.size() && command[i + 2] == '"')
            return i - 1;
    }
    return -1;
}

} // namespace

QString CutPlaceholder(const QString &command)
{
    int cut = FindPlaceholder(command, true);
    if (cut < 0)
        cut = FindPlaceholder(command, false);
    return cut < 0 ? command : command.left(cut);
}

QString AssembleBrowserCommand(const QString &command, const QString &target)
{
    return CutPlaceholder(command) + ' ' + target;
}

std::optional<QStringList> SplitCommandWords(const QString &command)
{
    QStringList words;
    QString word;
    // A word made only of field codes expands to nothing and is left out; "" is kept.
    bool keepWord = false;
    bool inQuotes = false;
    for (int i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
            } else if (c == '\\' && i + 1 < command.size() &&
                       QStringLiteral("\"`$\\").contains(command[i + 1])) {
                word += command[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (keepWord)
                words << word;
            word.clear();
            keepWord = false;
            continue;
        }
        if (c == '"') {
            inQuotes = true;
            keepWord = true;
        } else if (c == '%' && i + 1 < command.size()) {
            // Field codes outside quotes: "%%" is a percent sign, the others expand to
            // nothing here, since the target is appended as its own argument.
            if (command[++i] == '%') {
                word += '%';
                keepWord = true;
            }
        } else {
            word += c;
            keepWord = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (keepWord)
        words << word;
    return words;
}

int StartDetachedProcess(const QStringList &argv)
{
    if (argv.isEmpty() || argv.front().isEmpty())
        return LaunchCode::FileNotFound;
    std::vector<QByteArray> storage;
    storage.reserve(argv.size());
    for (const QString &arg : argv)
        storage.push_back(arg.toLocal8Bit());
    std::vector<char *> args;
    for (QByteArray &arg : storage)
        args.push_back(arg.data());
    args.push_back(nullptr);

    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return LaunchCode::OutOfResources;
    // Its own session: the started program outlives us and ignores our terminal's signals.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return LaunchCodeFromErrno(error);
    // Nobody waits for the started program; this keeps it from lingering as a zombie.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return LaunchCode::Success;
}
