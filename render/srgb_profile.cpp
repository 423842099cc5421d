// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/srgb_profile.h"

#include <lcms2.h>

namespace render {

namespace {

std::vector<unsigned char> Save(cmsHPROFILE profile)
{
    std::vector<unsigned char> bytes;
    cmsUInt32Number size = 0;
    if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) {
            bytes.clear();
        }
    }
    if (profile != nullptr) {
        cmsCloseProfile(profile);
    }
    return bytes;
}

void Describe(cmsHPROFILE profile, const wchar_t *text)
{
    cmsMLU *description = cmsMLUalloc(nullptr, 1);
    if (description != nullptr) {
        cmsMLUsetWide(description, "en", "US", text);
        cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
        cmsMLUfree(description);
    }
}

std::vector<unsigned char> MakeGrey()
{
    // sRGB's transfer function as the parametric curve of type 4.
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsHPROFILE profile = curve != nullptr ? cmsCreateGrayProfile(&white, curve) : nullptr;
    if (curve != nullptr) {
        cmsFreeToneCurve(curve);
    }
    if (profile != nullptr) {
        Describe(profile, L"sRGB grey");
    }
    return Save(profile);
}

} // namespace

const std::vector<unsigned char> &SrgbProfile()
{
    static const std::vector<unsigned char> profile = Save(cmsCreate_sRGBProfile());
    return profile;
}

const std::vector<unsigned char> &SrgbGreyProfile()
{
    static const std::vector<unsigned char> profile = MakeGrey();
    return profile;
}

} // namespace render
