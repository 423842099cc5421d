// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace rastool {

// What a process that parses PDFs may still do once it has opened what it needs.
struct ConfinementPolicy {
    // Files and folders that may be read (a folder with everything below it). A path that does
    // not exist is left out: opening it fails as it would without confinement.
    std::vector<std::string> readOnly;
    // The one folder in which files may be created, written, renamed and removed; its files may
    // be read too, as a file being written is opened for reading and writing.
    std::string writableFolder;
    // False: nothing may be written or created anywhere, writableFolder or not.
    bool writes = true;
};

// What the kernel let the process apply.
struct ConfinementReport {
    bool noNewPrivileges = false;
    bool noCoreDumps = false;
    bool seccomp = false;
    // The kernel's Landlock version, 0 where it has none; the file rules apply when positive.
    int landlockAbi = 0;
};

// Confines the calling process for good: no new privileges, no core dumps, a system call filter
// without network, program start, tracing or kernel administration (refused with EPERM, so a
// failure is an error message, not a kill), and file access limited to the policy where the
// kernel has Landlock. Must run before the process starts a thread, as the file rules bind the
// calling thread and the threads it starts afterwards. Throws Failure(Internal) when a part
// that every supported kernel has cannot be applied.
ConfinementReport Confine(const ConfinementPolicy &policy);

// The kernel's Landlock version, 0 where it has none or turned it off.
int LandlockAbi();

// Colour profiles the renderer may read once confined.
constexpr const char *kColourProfileFolder = "/usr/share/color/icc";

} // namespace rastool
