// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

namespace render {

class CmykToRgb;

// While one is alive, every conversion the PDF library makes on this thread from a CMYK colour
// (DeviceCMYK, or Indexed, Separation or DeviceN over it) to RGB or grey goes through colour's
// profile instead of the library's plain formula. Grey is the sRGB colour reduced by the
// library's own weights, so a grey page has the lightness of its colour rendering.
class ManagedColour {
public:
    explicit ManagedColour(CmykToRgb *colour);
    ~ManagedColour();
    ManagedColour(const ManagedColour &) = delete;
    ManagedColour &operator=(const ManagedColour &) = delete;

private:
    CmykToRgb *previous_;
};

} // namespace render
