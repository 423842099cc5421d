// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/capabilities.h"

#include <algorithm>
#include <cctype>

namespace rastool {

int BitsOf(Depth depth)
{
    switch (depth) {
    case Depth::Bw1:
        return 1;
    case Depth::Pal4:
        return 4;
    case Depth::Pal8:
    case Depth::Grey8:
        return 8;
    case Depth::Rgb24:
        return 24;
    }
    return 24;
}

const std::vector<Depth> &AllDepths()
{
    static const std::vector<Depth> all{Depth::Bw1, Depth::Pal4, Depth::Pal8, Depth::Grey8,
                                        Depth::Rgb24};
    return all;
}

std::string DepthName(Depth depth)
{
    switch (depth) {
    case Depth::Bw1:
        return "1 bit";
    case Depth::Pal4:
        return "4 bits";
    case Depth::Pal8:
        return "8 bits";
    case Depth::Grey8:
        return "8-bit grey";
    case Depth::Rgb24:
        return "24 bits";
    }
    return "24 bits";
}

const std::vector<TypeCapability> &Capabilities()
{
    using D = Depth;
    const std::vector<Depth> &all = AllDepths();
    static const std::vector<TypeCapability> table{
        {"BMP", {"bmp"}, all, false, MakeBmpWriter},
        {"EMF", {"emf"}, all, false, MakeEmfWriter},
        {"GIF", {"gif"}, {D::Bw1, D::Pal4, D::Pal8, D::Grey8}, false, MakeGifWriter},
        {"JPG", {"jpg", "jpeg"}, {D::Grey8, D::Rgb24}, false, MakeJpegWriter},
        {"PCX", {"pcx"}, all, false, MakePcxWriter},
        {"PNG", {"png"}, all, false, MakePngWriter},
        {"RAS", {"ras"}, {D::Bw1, D::Pal8, D::Grey8, D::Rgb24}, false, MakeRasWriter},
        {"TIF", {"tif", "tiff"}, all, true, MakeTiffWriter},
        {"TGA", {"tga"}, {D::Pal8, D::Grey8, D::Rgb24}, false, MakeTgaWriter},
        {"WMF", {"wmf"}, all, false, MakeWmfWriter},
    };
    return table;
}

const TypeCapability *FindTypeForPath(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return nullptr;
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const TypeCapability &type : Capabilities()) {
        if (std::find(type.extensions.begin(), type.extensions.end(), extension) !=
            type.extensions.end()) {
            return &type;
        }
    }
    return nullptr;
}

bool IsFaxCompression(TiffCompression compression)
{
    return compression == TiffCompression::G3 || compression == TiffCompression::G4 ||
           compression == TiffCompression::ClassF;
}

std::vector<Depth> HeldDepths(const TypeCapability &type, TiffCompression compression)
{
    if (type.factory != MakeTiffWriter) {
        return type.depths;
    }
    if (IsFaxCompression(compression)) {
        return {Depth::Bw1};
    }
    if (compression == TiffCompression::Jpeg) {
        return {Depth::Grey8, Depth::Rgb24};
    }
    return type.depths;
}

DepthChoice ChooseDepth(const std::vector<Depth> &held, int requestedBits, bool grey)
{
    using D = Depth;
    auto holds = [&](D d) { return std::find(held.begin(), held.end(), d) != held.end(); };
    // Preference orders: the request itself, then richer depths that keep colour where colour
    // was asked for, then poorer ones.
    std::vector<D> order;
    bool automatic = false;
    switch (requestedBits) {
    case 1:
        order = {D::Bw1, D::Pal4, D::Pal8, D::Grey8, D::Rgb24};
        break;
    case 4:
        order = {D::Pal4, D::Pal8, D::Rgb24, D::Grey8, D::Bw1};
        break;
    case 8:
        order = grey ? std::vector<D>{D::Grey8, D::Pal8, D::Rgb24, D::Pal4, D::Bw1}
                     : std::vector<D>{D::Pal8, D::Rgb24, D::Grey8, D::Pal4, D::Bw1};
        break;
    case 24:
        order = {D::Rgb24, D::Pal8, D::Grey8, D::Pal4, D::Bw1};
        break;
    default:
        automatic = true;
        order = grey ? std::vector<D>{D::Grey8, D::Rgb24, D::Pal8, D::Pal4, D::Bw1}
                     : std::vector<D>{D::Rgb24, D::Pal8, D::Grey8, D::Pal4, D::Bw1};
        break;
    }
    for (size_t i = 0; i < order.size(); ++i) {
        if (holds(order[i])) {
            return {order[i], !automatic && i > 0};
        }
    }
    return {held.front(), !automatic};
}

} // namespace rastool
