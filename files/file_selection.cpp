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
    if (paths.empty()) {
        return selection;
    }
    // Names typed with a folder of their own pick files from several folders. The answer's
    // folder is then the deepest one that holds them all, and each name keeps the rest of its
    // path, so that folder plus name is still the chosen file.
    const PathComponents firstParts = SplitPath(paths.front(), style);
    std::string directory = firstParts.directory;
    for (const std::string &path : paths) {
        while (!directory.empty() && path.compare(0, firstParts.drive.size() + directory.size(),
                                                  firstParts.drive + directory) != 0) {
            directory.pop_back();
            while (!directory.empty() && !IsPathSeparator(directory.back(), style)) {
                directory.pop_back();
            }
        }
    }
    const std::string folder = firstParts.drive + directory;
    for (const std::string &path : paths) {
        selection.names.push_back(path.substr(folder.size()));
    }
    // "/" and "C:\" keep their separator: without it they would name no folder.
    if (directory.size() > 1 && IsPathSeparator(directory.back(), style)) {
        directory.pop_back();
    }
    selection.first = firstParts.drive + directory;
    return selection;
}
