// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// Paths on their way from the open-file dialog or a drop to AddFilesToList, in the order they
// were given. Narrow strings in the file system's encoding; duplicates are kept.
using PathList = std::vector<std::string>;
