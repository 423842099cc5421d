// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where the desktop keeps its configuration and data, as the XDG base directories name them.
struct XdgDirs {
    QString configHome;
    QStringList configDirs;
    QString dataHome;
    QStringList dataDirs;
    // Lower-case names from XDG_CURRENT_DESKTOP, for the desktop-specific association lists.
    QStringList currentDesktops;

    static XdgDirs FromEnvironment();
};

// The Exec line of the desktop entry that is the default handler of the MIME type, with the
// desktop-entry string escapes resolved; nothing when no installed handler is registered.
std::optional<QString> DefaultHandlerCommand(const QString &mimeType, const XdgDirs &dirs);

// Cuts the command at its file placeholder: at the opening quote of a quoted placeholder
// ("%u" with its quotes), else at a bare one, else not at all. Whatever follows the
// placeholder goes with it; a blank before it stays.
QString CutPlaceholder(const QString &command);

// The command line that starts the handler for target: the cut command, one blank, the target.
QString AssembleBrowserCommand(const QString &command, const QString &target);

// Splits a command into program and arguments by the desktop-entry quoting rules, dropping the
// field codes left in it. Nothing when a quote is left open.
std::optional<QStringList> SplitCommandWords(const QString &command);

// Starts the program of argv[0] (searched along PATH) with these arguments, without a shell, and
// does not wait for it. Returns a launch code: above 32 on success, else the reason.
int StartDetachedProcess(const QStringList &argv);
