// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <vector>

namespace render {

// ICC profiles that say what our pixels are, for the image files that can carry one: sRGB for
// colour (and palettes), and for grey a profile with sRGB's white and tone curve, as a grey
// page is reduced from sRGB. Made once, on first use.
const std::vector<unsigned char> &SrgbProfile();
const std::vector<unsigned char> &SrgbGreyProfile();

} // namespace render
