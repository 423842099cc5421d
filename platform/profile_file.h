// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>

// The user's profile file: an INI file at $XDG_CONFIG_HOME/pagemint/pagemint.ini (usually
// ~/.config/pagemint/pagemint.ini). The location is looked up on every call, so a test that
// points XDG_CONFIG_HOME at a temporary folder never touches the user's own file.
QString ProfileFilePath();

// The value of `key` in `section`, or `defaultValue` when the file, section or key is missing.
QString ReadProfileString(const QString &section, const QString &key,
                          const QString &defaultValue = QString());

// Stores `value` under `key` in `section` and writes the file at once.
void WriteProfileString(const QString &section, const QString &key, const QString &value);

// The section that holds the program's two remembered folders, spelt as it is stored.
inline const QString kProfileSection = QStringLiteral("Paramter");
