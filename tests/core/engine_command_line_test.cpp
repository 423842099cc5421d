// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/engine_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr auto W = PathStyle::Windows;
constexpr auto P = PathStyle::Posix;

TEST(EnginePathTest, BesideTheFrontEnd)
{
    EXPECT_EQ(EnginePath("C:\\Apps\\Conv\\conv.exe", W), "C:\\Apps\\Conv\\rastool.exe");
    EXPECT_EQ(EnginePath("C:/Apps/conv.exe", W), "C:/Apps/rastool.exe");
    EXPECT_EQ(EnginePath("conv.exe", W), "rastool.exe");
    EXPECT_EQ(EnginePath("/usr/lib/pagemint/pagemint", P), "/usr/lib/pagemint/rastool");
    EXPECT_EQ(EnginePath("/opt/my apps/v1.2/pagemint.bin", P), "/opt/my apps/v1.2/rastool");
    EXPECT_EQ(EnginePath("/opt/\xc3\xa9\\x/pagemint", P), "/opt/\xc3\xa9\\x/rastool");
}

TEST(EnginePathTest, LongPathIsNotTruncated)
{
    const std::string folder = "/" + std::string(5000, 'd') + "/";
    EXPECT_EQ(EnginePath(folder + "pagemint", P), folder + "rastool");
}

struct OutputRow {
    const char *name;
    PathStyle style;
    const char *input;
    const char *destination;
    const char *type;
    const char *expected;
};
class OutputPathTest : public testing::TestWithParam<OutputRow> {};
TEST_P(OutputPathTest, DerivesTheOutputFile)
{
    const OutputRow &row = GetParam();
    EXPECT_EQ(OutputPath(row.input, row.destination, row.type, row.style), row.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, OutputPathTest,
    testing::Values(
        OutputRow{"WinDestination", W, "D:\\Docs\\report.pdf", "E:\\Images", "TIF",
                  "E:\\Images\\report.tif"},
        OutputRow{"WinDestinationWithSeparator", W, "D:\\Docs\\report.pdf", "E:\\Images\\", "TIF",
                  "E:\\Images\\report.tif"},
        OutputRow{"WinDriveOnly", W, "D:\\Docs\\report.pdf", "C:", "TIF", "C:\\report.tif"},
        OutputRow{"WinSlashGetsBackslash", W, "D:\\Docs\\report.pdf", "E:/out/", "TIF",
                  "E:/out/\\report.tif"},
        OutputRow{"WinSeveralDots", W, "D:\\Docs\\a.b.c.pdf", "E:\\Images", "TIF",
                  "E:\\Images\\a.b.c.tif"},
        OutputRow{"WinNoExtension", W, "D:\\Docs\\report", "E:\\Images", "TIF",
                  "E:\\Images\\report.tif"},
        OutputRow{"WinUncBesideInput", W, "\\\\server\\share\\x.pdf", "", "TIF",
                  "\\\\server\\share\\x.tif"},
        OutputRow{"WinBesideInput", W, "D:\\Docs\\report.pdf", "", "JPG", "D:\\Docs\\report.jpg"},
        OutputRow{"WinBlanksUsedUnchanged", W, "D:\\Docs\\report.pdf", "  ", "PNG",
                  "  \\report.png"},
        OutputRow{"PosixDestination", P, "/home/u/report.pdf", "/tmp/out", "PNG",
                  "/tmp/out/report.png"},
        OutputRow{"PosixDestinationWithSlash", P, "/home/u/report.pdf", "/tmp/out/", "PNG",
                  "/tmp/out/report.png"},
        OutputRow{"PosixBackslashIsNotFinal", P, "/home/u/report.pdf", "/tmp/out\\", "PNG",
                  "/tmp/out\\/report.png"},
        OutputRow{"PosixBesideInput", P, "/home/u/report.pdf", "", "TIF", "/home/u/report.tif"},
        OutputRow{"PosixRelativeBesideInput", P, "report.pdf", "", "TIF", "report.tif"},
        OutputRow{"PosixBlanksAndQuotes", P, "/d/my \"best\" file.pdf", "/t/a b", "GIF",
                  "/t/a b/my \"best\" file.gif"},
        OutputRow{"PosixUtf8", P, "/d/r\xc3\xa9sum\xc3\xa9.pdf", "/t/\xe6\x96\x87/", "BMP",
                  "/t/\xe6\x96\x87/r\xc3\xa9sum\xc3\xa9.bmp"},
        OutputRow{"PosixTypeOnlyAsciiLowered", P, "/d/x.pdf", "", "T\xc3\x89X", "/d/x.t\xc3\x89x"},
        OutputRow{"PosixEmptyType", P, "/d/x.pdf", "", "", "/d/x."}),
    [](const testing::TestParamInfo<OutputRow> &info) { return info.param.name; });

// The defaults with one row's changes applied.
ConversionSettings With(void (*change)(ConversionSettings &))
{
    ConversionSettings s;
    change(s);
    return s;
}

struct CommandRow {
    const char *name;
    PathStyle style;
    const char *engine;
    const char *input;
    const char *destination;
    const char *type;
    ConversionSettings settings;
    const char *text;
    std::vector<std::string> arguments;
};
class BuildEngineCommandLineTest : public testing::TestWithParam<CommandRow> {};
TEST_P(BuildEngineCommandLineTest, TextAndArgumentsFromTheSameFragments)
{
    const CommandRow &row = GetParam();
    const EngineCommand command = BuildEngineCommandLine(row.engine, row.input, row.destination,
                                                         row.type, row.settings, row.style);
    EXPECT_EQ(command.text, row.text);
    EXPECT_EQ(command.arguments, row.arguments);
}

const char *const kWinEngine = "C:\\Apps\\Conv\\rastool.exe";
const char *const kWinInput = "D:\\Docs\\report.pdf";

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, BuildEngineCommandLineTest,
    testing::Values(
        CommandRow{"Defaults",
                   W,
                   kWinEngine,
                   kWinInput,
                   "E:\\Images",
                   "TIF",
                   {},
                   "\"C:\\Apps\\Conv\\rastool.exe\" -i \"D:\\Docs\\report.pdf\" -o "
                   "\"E:\\Images\\report.tif\" -r \"101x101\" -b \"0\" -c \"PACKBITS\"",
                   {kWinEngine, "-i", kWinInput, "-o", "E:\\Images\\report.tif", "-r", "101x101",
                    "-b", "0", "-c", "PACKBITS"}},
        CommandRow{"JpegWithPageRange",
                   W,
                   kWinEngine,
                   kWinInput,
                   "",
                   "JPG",
                   With([](ConversionSettings &c) {
                       c.xResolution = c.yResolution = 150;
                       c.pageRange = 1;
                       c.fromPage = 2;
                       c.toPage = 5;
                       c.bitCountIndex = 4;
                       c.multiPage = 1;
                   }),
                   "\"C:\\Apps\\Conv\\rastool.exe\" -i \"D:\\Docs\\report.pdf\" -o "
                   "\"D:\\Docs\\report.jpg\" -r \"150x150\" -f \"2\" -l \"5\" -b \"24\" -q \"75\"",
                   {kWinEngine, "-i", kWinInput, "-o", "D:\\Docs\\report.jpg", "-r", "150x150",
                    "-f", "2", "-l", "5", "-b", "24", "-q", "75"}},
        CommandRow{"GreyMultiPageLzw",
                   W,
                   kWinEngine,
                   kWinInput,
                   "E:\\Images\\",
                   "TIF",
                   With([](ConversionSettings &c) {
                       c.xResolution = c.yResolution = 300;
                       c.bitCountIndex = 3;
                       c.grayscale = 1;
                       c.multiPage = 1;
                       c.compression = 5;
                   }),
                   "\"C:\\Apps\\Conv\\rastool.exe\" -i \"D:\\Docs\\report.pdf\" -o "
                   "\"E:\\Images\\report.tif\" -r \"300x300\" -b \"8\" -g -m -c \"lzw\"",
                   {kWinEngine, "-i", kWinInput, "-o", "E:\\Images\\report.tif", "-r", "300x300",
                    "-b", "8", "-g", "-m", "-c", "lzw"}}),
    [](const testing::TestParamInfo<CommandRow> &info) { return info.param.name; });

const char *const kEngine = "/opt/pm/rastool";

INSTANTIATE_TEST_SUITE_P(
    Fragments, BuildEngineCommandLineTest,
    testing::Values(
        CommandRow{"PngCarriesNoTiffOrJpegOptions",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "/o",
                   "PNG",
                   With([](ConversionSettings &c) {
                       c.multiPage = 1;
                       c.compression = 5;
                       c.jpegQuality = 10;
                       c.pageRange = 1;
                       c.fromPage = 3;
                       c.toPage = 4;
                       c.bitCountIndex = 3;
                       c.grayscale = 1;
                   }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/o/x.png\" -r \"101x101\" -f \"3\" "
                   "-l \"4\" -b \"8\" -g",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/o/x.png", "-r", "101x101", "-f", "3", "-l",
                    "4", "-b", "8", "-g"}},
        CommandRow{"TiffCode2HasNoCompressionButMultiPage",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "TIF",
                   With([](ConversionSettings &c) {
                       c.compression = 2;
                       c.multiPage = 1;
                   }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.tif\" -r \"101x101\" -b \"0\" -m",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.tif", "-r", "101x101", "-b", "0", "-m"}},
        CommandRow{"TiffCode6HasNoCompression",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "TIF",
                   With([](ConversionSettings &c) { c.compression = 6; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.tif\" -r \"101x101\" -b \"0\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.tif", "-r", "101x101", "-b", "0"}},
        CommandRow{"TiffJpegCompressionWithoutQuality",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "TIF",
                   With([](ConversionSettings &c) { c.compression = 7; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.tif\" -r \"101x101\" -b \"0\" "
                   "-c \"jpeg\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.tif", "-r", "101x101", "-b", "0", "-c",
                    "jpeg"}},
        CommandRow{"ClassFKeyword",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "TIF",
                   With([](ConversionSettings &c) { c.compression = 88888888; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.tif\" -r \"101x101\" -b \"0\" "
                   "-c \"CLASSF\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.tif", "-r", "101x101", "-b", "0", "-c",
                    "CLASSF"}},
        CommandRow{"EightBitsWithoutGrey",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "BMP",
                   With([](ConversionSettings &c) { c.bitCountIndex = 3; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.bmp\" -r \"101x101\" -b \"8\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.bmp", "-r", "101x101", "-b", "8"}},
        CommandRow{"GreyIgnoredAt24Bits",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "BMP",
                   With([](ConversionSettings &c) {
                       c.bitCountIndex = 4;
                       c.grayscale = 1;
                   }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.bmp\" -r \"101x101\" -b \"24\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.bmp", "-r", "101x101", "-b", "24"}},
        CommandRow{"NoBitsSelection",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "BMP",
                   With([](ConversionSettings &c) { c.bitCountIndex = -1; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.bmp\" -r \"101x101\" -b \"0\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.bmp", "-r", "101x101", "-b", "0"}},
        CommandRow{"ReversedRangeAndDifferentResolutions",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "JPG",
                   With([](ConversionSettings &c) {
                       c.pageRange = 1;
                       c.fromPage = 7;
                       c.toPage = 3;
                       c.xResolution = 204;
                       c.yResolution = 196;
                       c.jpegQuality = 0;
                   }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.jpg\" -r \"204x196\" -f \"7\" "
                   "-l \"3\" -b \"0\" -q \"0\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.jpg", "-r", "204x196", "-f", "7", "-l",
                    "3", "-b", "0", "-q", "0"}},
        CommandRow{"PageNumbersPast31BitsStayUnsigned",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "PNG",
                   With([](ConversionSettings &c) {
                       c.pageRange = 1;
                       c.fromPage = 2147483648u;
                       c.toPage = 4294967295u;
                   }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.png\" -r \"101x101\" -f "
                   "\"2147483648\" -l \"4294967295\" -b \"0\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.png", "-r", "101x101", "-f",
                    "2147483648", "-l", "4294967295", "-b", "0"}},
        CommandRow{"QuotesBlanksAndUtf8StayOneArgument",
                   P,
                   "/opt/my apps/rastool",
                   "/d/a \"-o\" b.pdf",
                   "/t/r\xc3\xa9s/",
                   "TIF",
                   {},
                   "\"/opt/my apps/rastool\" -i \"/d/a \"-o\" b.pdf\" -o "
                   "\"/t/r\xc3\xa9s/a \"-o\" b.tif\" -r \"101x101\" -b \"0\" -c \"PACKBITS\"",
                   {"/opt/my apps/rastool", "-i", "/d/a \"-o\" b.pdf", "-o",
                    "/t/r\xc3\xa9s/a \"-o\" b.tif", "-r", "101x101", "-b", "0", "-c", "PACKBITS"}},
        CommandRow{"OnlyTheLastThreeCharactersCount",
                   P,
                   kEngine,
                   "/d/x.pdf",
                   "",
                   "TIFF",
                   With([](ConversionSettings &c) { c.multiPage = 1; }),
                   "\"/opt/pm/rastool\" -i \"/d/x.pdf\" -o \"/d/x.tiff\" -r \"101x101\" -b \"0\"",
                   {kEngine, "-i", "/d/x.pdf", "-o", "/d/x.tiff", "-r", "101x101", "-b", "0"}}),
    [](const testing::TestParamInfo<CommandRow> &info) { return info.param.name; });

TEST(BuildEngineCommandLineTest, LongPathsAreNotTruncated)
{
    const std::string destination = "/" + std::string(3000, 'o');
    const std::string input = "/" + std::string(300, 'i') + "/" + std::string(400, 'n') + ".pdf";
    const EngineCommand command =
        BuildEngineCommandLine(kEngine, input, destination, "TIF", ConversionSettings{}, P);
    const std::string output = destination + "/" + std::string(400, 'n') + ".tif";
    ASSERT_EQ(command.arguments.size(), 11u);
    EXPECT_EQ(command.arguments[2], input);
    EXPECT_EQ(command.arguments[4], output);
    EXPECT_NE(command.text.find("\"" + output + "\""), std::string::npos);
    EXPECT_GT(command.text.size(), 4096u);
}

} // namespace
