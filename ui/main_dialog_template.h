// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "platform/dialog_template.h"

// Ids of the main window's controls.
namespace MainControl {
constexpr int kJpegQuality = 1019;
constexpr int kJpegQualitySpin = 1020;
constexpr int kBitCount = 1021;
constexpr int kExit = 1022;
constexpr int kXResolution = 1023;
constexpr int kXResolutionSpin = 1024;
constexpr int kFromPage = 1025;
constexpr int kFromPageSpin = 1027;
constexpr int kToPage = 1028;
constexpr int kToPageSpin = 1029;
constexpr int kFileList = 1030;
constexpr int kAdd = 1031;
constexpr int kRemove = 1032;
constexpr int kConvert = 1034;
constexpr int kFileType = 1035;
constexpr int kViewer = 1036;
constexpr int kRemoveAll = 1037;
constexpr int kStatus = 1038;
constexpr int kDestination = 1040;
constexpr int kBrowse = 1041;
constexpr int kYResolution = 1042;
constexpr int kPageRange = 1043;
constexpr int kYResolutionSpin = 1044;
constexpr int kAbout = 1047;
constexpr int kFromLabel = 1048;
constexpr int kToLabel = 1049;
constexpr int kProgress = 1050;
constexpr int kGrayscale = 1051;
constexpr int kMultiPage = 1018;
} // namespace MainControl

// Template 102: the main window.
const DialogTemplate &MainDialogTemplate();
