// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakeJpegWriter;

// The codec's own limit is 65500 pixels a side; 8 bits are held only as grey levels.
INSTANTIATE_TEST_SUITE_P(Jpeg, WriterContractTest,
                         ::testing::Values(WriterCase{"JPEG", MakeJpegWriter, 24, 4, 65501, 1},
                                           WriterCase{"JPEG", MakeJpegWriter, 24, 8, 1, 65501}));

TEST(JpegWriter, RecordsEachAxisResolutionAndGreyLevels)
{
    TempDir dir;
    const auto path = dir.Path() / "fax.jpg";
    WriteImage(MakeJpegWriter, MakeTestImage(8, 17, 5, true, 204, 98), path);
    double x = 0, y = 0;
    ASSERT_TRUE(ReadResolution(path, x, y));
    EXPECT_EQ(x, 204);
    EXPECT_EQ(y, 98);
    EXPECT_EQ(RunCommand("identify -format '%[channels]' " + QuotePath(path)), "gray");
}

} // namespace
} // namespace writer_test
