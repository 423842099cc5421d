// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/path_components.h"

bool IsPathSeparator(char c, PathStyle style)
{
    return c == '/' || (style == PathStyle::Windows && c == '\\');
}

char PreferredSeparator(PathStyle style)
{
    return style == PathStyle::Windows ? '\\' : '/';
}

PathComponents SplitPath(std::string_view path, PathStyle style)
{
    PathComponents parts;
    std::string_view rest = path;
    if (style == PathStyle::Windows && rest.size() >= 2 && rest[1] == ':') {
        parts.drive = std::string(rest.substr(0, 2));
        rest.remove_prefix(2);
    }
    // Separators and '.' are ASCII and UTF-8 never uses ASCII values inside a multi-byte
    // sequence, so a byte-wise scan cannot mistake part of a character for either.
    size_t nameStart = 0;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (IsPathSeparator(rest[i], style)) {
            nameStart = i + 1;
        }
    }
    parts.directory = std::string(rest.substr(0, nameStart));
    const std::string_view name = rest.substr(nameStart);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        parts.baseName = std::string(name);
    } else {
        parts.baseName = std::string(name.substr(0, dot));
        parts.extension = std::string(name.substr(dot));
    }
    return parts;
}

std::string JoinPath(const PathComponents &components, PathStyle style)
{
    std::string path;
    // Only the drive letter is taken, so "D" and "D:" join alike.
    if (style == PathStyle::Windows && !components.drive.empty()) {
        path += components.drive.front();
        path += ':';
    }
    if (!components.directory.empty()) {
        path += components.directory;
        if (!IsPathSeparator(components.directory.back(), style)) {
            path += PreferredSeparator(style);
        }
    }
    path += components.baseName;
    if (!components.extension.empty()) {
        if (components.extension.front() != '.') {
            path += '.';
        }
        path += components.extension;
    }
    return path;
}
