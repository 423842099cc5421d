// SPDX-License-Identifier: AGPL-3.0-or-later
// Test executables do not lie beside rastool: the document helper is taken from the build's
// bin/ folder for every test of the executable.
#include "remote/helper_process.h"

#include <gtest/gtest.h>

namespace {

class HelperProgramEnvironment : public ::testing::Environment {
public:
    void SetUp() override { remote::SetHelperProgram(PAGEMINT_BIN_DIR "/rastool"); }
};

const auto *const registered = ::testing::AddGlobalTestEnvironment(new HelperProgramEnvironment);

} // namespace
