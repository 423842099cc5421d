// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

extern "C" {
#include <mupdf/fitz.h>
}

namespace render {

// Resource dictionaries nested deeper than this (a form that draws a form that draws a form...,
// patterns, soft masks and Type 3 glyphs alike) are refused before the library loads the page.
// The library walks that nesting recursively while it loads a page, so a chain of some tens of
// thousands of forms exhausts the thread's stack inside it: no handler can make that a failure,
// so the depth is measured first, without recursion. Real documents nest a handful of levels,
// and the library stops drawing nested forms far earlier than this anyway.
constexpr int kMaxResourceNesting = 256;

// Sets *depth to how deep the resources of the page (0-based index) and of its annotations'
// appearances nest, the outermost dictionary counting one, or to limit + 1 as soon as they are
// found to nest deeper than limit. A dictionary that contains itself, directly or not, adds
// nothing, as the library skips it too. Returns the library's error code, 0 when it could
// measure.
int MeasureResourceNesting(fz_context *ctx, fz_document *doc, int pageIndex, int limit, int *depth);

} // namespace render
