// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Windows: '\' and '/' both separate, "X:" is a drive. Posix: '/' only, no drive.
enum class PathStyle { Windows, Posix };

// A path in four pieces that concatenate back to the whole path.
struct PathComponents {
    std::string drive;     // "D:" or empty
    std::string directory; // up to and including the last separator, or empty
    std::string baseName;  // up to, not including, the last '.' after the directory
    std::string extension; // from that '.' (included) to the end, or empty
};

PathComponents SplitPath(std::string_view path, PathStyle style);

// The drive letter and ':' (Windows style only), the directory with a separator added unless it
// already ends in one, the base name, and the extension with a '.' added in front unless it already
// starts with one.
std::string JoinPath(const PathComponents &components, PathStyle style);

bool IsPathSeparator(char c, PathStyle style);
// '\' for Windows style, '/' for Posix style.
char PreferredSeparator(PathStyle style);
