// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

// Launch codes of the desktop's open action. Callers test "greater than 32" for success; the
// failure values name the reason and select the text shown to the user.
namespace LaunchCode {
constexpr int OutOfResources = 0;
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int AccessDenied = 5;
constexpr int OutOfMemory = 8;
constexpr int BadFormat = 11;
constexpr int AssociationIncomplete = 27;
constexpr int NoAssociation = 31;
constexpr int Success = 33;
} // namespace LaunchCode

// Opens a URL ("https:", "mailto:", "file:" ...) or a local file with the program the desktop
// associates with it. Returns a launch code: above 32 when the desktop took it.
int ShellOpen(const QString &target);

// The desktop's URL opener behind ShellOpen; returns a launch code. Tests replace it.
// SetUrlOpener returns the previous opener.
using UrlOpener = std::function<int(const QUrl &url)>;
UrlOpener SetUrlOpener(UrlOpener opener);

// How long the desktop opener may take to report that it failed. One still running then has
// found a handler and is taken to have succeeded.
constexpr std::chrono::milliseconds kOpenerVerdictWait{2000};

// Runs the desktop's opener, xdg-open from PATH, on the URL, its output discarded, and waits
// up to verdictWait for its exit status. Returns Success when it exits with 0 or is still
// running then; otherwise the launch code of its failure (NoAssociation when there is no opener
// or no handler for the URL).
int RunDesktopOpener(const QUrl &url, std::chrono::milliseconds verdictWait = kOpenerVerdictWait);
