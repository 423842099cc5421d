// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/main_dialog_template.h"

#include "core/conversion_settings.h"

namespace {

// Control styles of the template.
constexpr uint32_t kPush = 0x50010000;
constexpr uint32_t kPushDisabled = 0x58010000;
constexpr uint32_t kCheck = 0x50010003;
constexpr uint32_t kRadio = 0x50020009;
constexpr uint32_t kEdit = 0x50810080;
constexpr uint32_t kList = 0x50210003;
constexpr uint32_t kSpin = 0x50000026;
constexpr uint32_t kGroup = 0x50000007;
constexpr uint32_t kStatic = 0x50020000;

// WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT
constexpr uint32_t kDialogStyle = 0x90CA00C0;

using K = ControlKind;

// The two lists show the entries of the settings' own tables, in table order, so that a list
// index is an index into those tables.
std::vector<const char *> FileTypeEntries()
{
    return std::vector<const char *>(kFileTypeTable.begin(), kFileTypeTable.end());
}

std::vector<const char *> BitCountEntries()
{
    std::vector<const char *> entries;
    for (const BitCountEntry &entry : kBitCountTable)
        entries.push_back(entry.text);
    return entries;
}

} // namespace

const DialogTemplate &MainDialogTemplate()
{
    static const DialogTemplate dialog{
        102,
        kDialogStyle,
        517,
        359,
        "Tessary - Pagemint v2.1",
        {
            {1030, K::ListView, 0x50810001, 248, 24, 259, 119, nullptr},
            {1031, K::PushButton, kPush, 252, 148, 47, 14, "Add"},
            {1032, K::PushButton, kPushDisabled, 302, 148, 47, 14, "Remove"},
            {1037, K::PushButton, kPushDisabled, 351, 148, 47, 14, "Remove all"},
            {1035, K::DropDownList, kList, 453, 148, 48, 149, nullptr},
            {1040, K::Edit, kEdit, 328, 170, 134, 12, nullptr},
            {1041, K::PushButton, kPush, 465, 170, 35, 14, "Browse"},
            {1023, K::Edit, kEdit, 258, 226, 41, 14, nullptr},
            {1024, K::SpinButton, kSpin, 307, 210, 11, 14, nullptr},
            {1042, K::Edit, kEdit, 258, 257, 41, 14, nullptr},
            {1044, K::SpinButton, kSpin, 308, 241, 11, 14, nullptr},
            {1043, K::CheckBox, kCheck, 258, 281, 56, 10, "Page range"},
            {1025, K::Edit, kEdit, 279, 297, 35, 14, nullptr},
            {1028, K::Edit, kEdit, 279, 312, 35, 14, nullptr},
            {1029, K::SpinButton, kSpin, 278, 327, 11, 14, nullptr},
            {1027, K::SpinButton, kSpin, 292, 327, 11, 14, nullptr},
            {1026, K::RadioButton, kRadio, 334, 224, 68, 8, "None"},
            {1014, K::RadioButton, kRadio, 334, 237, 68, 8, "Packbits"},
            {1033, K::RadioButton, kRadio, 334, 250, 68, 8, "CCITT group 3"},
            {1015, K::RadioButton, kRadio, 334, 263, 68, 8, "CCITT group 4"},
            {1016, K::RadioButton, kRadio, 334, 276, 68, 8, "LZW"},
            {1017, K::RadioButton, kRadio, 334, 289, 68, 8, "JPEG"},
            {1039, K::RadioButton, kRadio, 334, 302, 76, 10, "ClassF Fax File"},
            {1018, K::CheckBox, kCheck, 334, 317, 68, 10, "Multiple page"},
            {1019, K::Edit, kEdit, 454, 225, 40, 14, nullptr},
            {1020, K::SpinButton, kSpin, 489, 240, 11, 14, nullptr},
            {1021, K::DropDownList, kList, 426, 284, 56, 68, nullptr},
            {1051, K::CheckBox, kCheck, 426, 305, 56, 12, "Grayscale"},
            {1034, K::PushButton, kPushDisabled, 364, 338, 44, 14, "Convert"},
            {1047, K::PushButton, kPush, 413, 338, 44, 14, "About"},
            {1022, K::PushButton, kPush, 461, 338, 44, 14, "Exit"},
            {-1, K::GroupBox, kGroup, 245, 13, 265, 174, "Batch process"},
            {-1, K::GroupBox, kGroup, 245, 193, 265, 143, "Option"},
            {-1, K::GroupBox, kGroup, 325, 202, 88, 130, "TIFF"},
            {-1, K::GroupBox, kGroup, 418, 202, 85, 56, "JPEG"},
            {-1, K::StaticText, kStatic, 421, 224, 29, 8, "Quality"},
            {-1, K::StaticText, kStatic, 421, 232, 29, 8, "(0-100)"},
            {-1, K::GroupBox, kGroup, 329, 211, 80, 102, "Compression"},
            {-1, K::GroupBox, kGroup, 419, 266, 83, 66, "Image bitcount"},
            {-1, K::GroupBox, kGroup, 251, 202, 69, 130, "PDF"},
            {1046, K::StaticText, kStatic, 258, 212, 49, 8, "X Resolution"},
            {1048, K::StaticText, kStatic, 258, 300, 21, 8, "From:"},
            {1049, K::StaticText, kStatic, 258, 316, 13, 8, "To:"},
            {-1, K::StaticText, kStatic, 302, 229, 13, 8, "DPI"},
            {-1, K::StaticText, kStatic, 409, 150, 41, 8, "File type:"},
            {1036, K::Custom, 0x50010000, 7, 7, 232, 329, nullptr},
            {-1, K::StaticText, kStatic, 252, 171, 73, 8, "Destination folder"},
            {1038, K::StaticText, kStatic, 7, 338, 232, 11, "Ready"},
            {1050, K::ProgressBar, 0x50800000, 245, 340, 111, 11, nullptr},
            {1052, K::StaticText, kStatic, 258, 244, 49, 8, "Y Resolution"},
            {-1, K::StaticText, kStatic, 302, 260, 13, 8, "DPI"},
        },
        {
            {1035, FileTypeEntries()},
            {1021, BitCountEntries()},
        },
    };
    return dialog;
}
