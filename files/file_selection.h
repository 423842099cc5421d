// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/path_components.h"
#include "files/path_list.h"

#include <string>
#include <vector>

// What the open-file dialog answers: for one file its full path alone in `first`; for several
// files their folder in `first` and the file names, in the dialog's order, in `names`.
struct FileSelection {
    std::string first;
    std::vector<std::string> names;
};

struct ResolvedSelection {
    PathList paths;
    // The folder remembered for the next dialog: for one file its folder with a trailing
    // separator, for several the folder exactly as the dialog gave it.
    std::string inputDir;
};

ResolvedSelection ResolveSelection(const FileSelection &selection, PathStyle style);

// Puts full paths of files from one folder into the dialog's answer shape: the folder loses its
// trailing separator unless it is a root.
FileSelection SelectionFromPaths(const std::vector<std::string> &paths, PathStyle style);
