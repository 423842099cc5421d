// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

// Starts the main window modally; the program ends when it closes.
class ConverterApp {
public:
    // Runs the main window to its end. Returns false: the program has no loop of its own.
    bool InitInstance();
};
