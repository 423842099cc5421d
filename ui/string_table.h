// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>

// The program's string resources, by id.
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_SELECT_OUTPUT_FOLDER = 102;

// The text of string `id`; empty for an id that has none.
inline QString LoadResourceString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX:
        return QStringLiteral("&About RastiqueW...");
    case IDS_SELECT_OUTPUT_FOLDER:
        return QStringLiteral("Please select an output folder:");
    default:
        return QString();
    }
}
