// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/file_selection.h"

ResolvedSelection ResolveSelection(const FileSelection &selection, PathStyle style)
{
    ResolvedSelection resolved;
    if (selection.names.empty()) {
        PathComponents folder = SplitPath(selection.first, style);
        folder.baseName.clear();
        folder.extension.clear();
        resolved.inputDir = JoinPath(folder, style);
        resolved.paths.push_back(selection.first);
        return resolved;
    }
    const std::string &folder = selection.first;
    const bool endsInSeparator = !folder.empty() && IsPathSeparator(folder.back(), style);
    for (const std::string &name : selection.names) {
        std::string path = folder;
        if (!endsInSeparator) {
            path += PreferredSeparator(style);
        }
        path += name;
        resolved.paths.push_back(std::move(path));
    }
    resolved.inputDir = folder;
    return resolved;
}

FileSelection SelectionFromPaths(const std::vector<std::string> &paths, PathStyle style)
{
    FileSelection selection;
    if (paths.size() == 1) {
        selection.first = paths.front();
        return selection;
    }
    for (const std::string &path : paths) {
        const PathComponents parts = SplitPath(path, style);
        if (selection.names.empty()) {
            std::string directory = parts.directory;
            // "/" and "C:\" keep their separator: without it they would name no folder.
            if (directory.size() > 1 && IsPathSeparator(directory.back(), style)) {
                directory.pop_back();
            }
            selection.first = parts.drive + directory;
        }
        selection.names.push_back(parts.baseName + parts.extension);
    }
    return selection;
}
