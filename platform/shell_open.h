// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
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

// The desktop's URL opener behind ShellOpen; tests replace it. Returns the previous opener.
using UrlOpener = std::function<bool(const QUrl &url)>;
UrlOpener SetUrlOpener(UrlOpener opener);
