// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <optional>
#include <vector>

extern "C" {
typedef struct fz_context fz_context;
typedef struct fz_document fz_document;
}

namespace render {

// The profile of the document's first output intent for a four-component (CMYK) device, as
// stored: none when it names none, empty when its stream cannot be read.
std::optional<std::vector<unsigned char>> CmykOutputIntent(fz_context *ctx, fz_document *doc);

} // namespace render
