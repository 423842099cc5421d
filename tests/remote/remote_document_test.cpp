// SPDX-License-Identifier: AGPL-3.0-or-later
// The helper against the renderer in this process: the same answers and the same pixels, and a
// helper that crashes or hangs costs the call it was serving and nothing after it.
#include "remote/remote_document.h"
#include "render/document.h"
#include "render/test_pdf.h"
#include "support/hostile_pdf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using remote::HelperProcess;
using remote::RemoteDocument;
using render::RenderError;
using Clock = std::chrono::steady_clock;

std::string SamplePdf()
{
    testpdf::Page first;
    first.Rect(50, 600, 200, 100, {200, 30, 30})
        .Text(72, 500, 24, "Pagemint")
        .Gradient(300, 100, 250, 300);
    testpdf::Page second;
    second.width = 842;
    second.height = 595;
    second.rotate = 90;
    second.Rect(0, 0, 421, 595, {0, 0, 0});
    return testpdf::MakePdf({first, second});
}

class RemoteDocumentTest : public ::testing::Test {
protected:
    std::shared_ptr<HelperProcess> helper =
        std::make_shared<HelperProcess>(remote::HelperProgram());
    testpdf::TempDir dir;

    std::string Write(const std::string &name, const std::string &bytes)
    {
        testpdf::WriteFile(dir / name, bytes);
        return dir / name;
    }
};

struct Resolution {
    double xDpi, yDpi;
    render::PixelFormat format;
};

class SamePixelsTest : public RemoteDocumentTest,
                       public ::testing::WithParamInterface<Resolution> {};

TEST_P(SamePixelsTest, EveryPageAsTheEngineDrawsIt)
{
    const Resolution r = GetParam();
    const std::string path = Write("sample.pdf", SamplePdf());
    render::Document local(path);
    RemoteDocument remote(helper, path);
    ASSERT_EQ(remote.PageCount(), local.PageCount());
    const int components = r.format == render::PixelFormat::Rgb ? 3 : 1;
    for (int page = 0; page < local.PageCount(); ++page) {
        EXPECT_EQ(remote.DeclaredPageSize(page).width, local.DeclaredPageSize(page).width);
        EXPECT_EQ(remote.PageSize(page).height, local.PageSize(page).height);
        const render::PixelSize size = local.PagePixelSize(page, r.xDpi, r.yDpi);
        const render::PixelSize remoteSize = remote.PagePixelSize(page, r.xDpi, r.yDpi);
        ASSERT_EQ(remoteSize.width, size.width);
        ASSERT_EQ(remoteSize.height, size.height);
        // A band from the middle, into rows wider than the pixels, as the viewer asks for them.
        const int y0 = size.height / 3;
        const int rows = size.height / 2;
        const std::ptrdiff_t stride = size.width * components + 7;
        std::vector<unsigned char> expected(static_cast<size_t>(stride * rows), 0xAB);
        std::vector<unsigned char> got(expected.size(), 0xAB);
        local.RenderBand(page, r.xDpi, r.yDpi, y0, rows, r.format, expected.data(), stride);
        remote.RenderBand(page, r.xDpi, r.yDpi, y0, rows, r.format, got.data(), stride);
        EXPECT_TRUE(got == expected) << "page " << page + 1;
    }
    EXPECT_EQ(remote.Problems(), local.Problems());
}

INSTANTIATE_TEST_SUITE_P(Resolutions, SamePixelsTest,
                         ::testing::Values(Resolution{72, 72, render::PixelFormat::Rgb},
                                           Resolution{150, 150, render::PixelFormat::Grey},
                                           Resolution{204, 98, render::PixelFormat::Rgb}));

TEST_F(RemoteDocumentTest, AntiAliasingOffReachesTheHelper)
{
    const std::string path = Write("sample.pdf", SamplePdf());
    render::Document local(path);
    RemoteDocument remote(helper, path);
    local.SetAntiAliasing(false);
    remote.SetAntiAliasing(false);
    const render::PixelSize size = local.PagePixelSize(0, 96, 96);
    std::vector<unsigned char> expected(static_cast<size_t>(size.width * size.height));
    std::vector<unsigned char> got(expected.size());
    local.RenderBand(0, 96, 96, 0, size.height, render::PixelFormat::Grey, expected.data(),
                     size.width);
    remote.RenderBand(0, 96, 96, 0, size.height, render::PixelFormat::Grey, got.data(), size.width);
    EXPECT_TRUE(got == expected);
}

struct Refusal {
    const char *name;
    std::string bytes; // empty: a folder of that name
};

class RefusalTest : public RemoteDocumentTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, SameKindAndMessageAsTheEngine)
{
    const Refusal &refusal = GetParam();
    std::string path = dir / refusal.name;
    if (std::string(refusal.name) == "missing.pdf") {
        // nothing there
    } else if (refusal.bytes.empty() && std::string(refusal.name) == "folder.pdf") {
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    } else {
        path = Write(refusal.name, refusal.bytes);
    }
    std::optional<RenderError> local;
    try {
        render::Document document(path);
    } catch (const RenderError &error) {
        local = error;
    }
    ASSERT_TRUE(local);
    try {
        RemoteDocument document(helper, path);
        FAIL() << "opened " << path;
    } catch (const RenderError &error) {
        EXPECT_EQ(error.kind(), local->kind());
        EXPECT_STREQ(error.what(), local->what());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusalTest,
    ::testing::Values(Refusal{"missing.pdf", ""}, Refusal{"folder.pdf", ""},
                      Refusal{"empty.pdf", ""}, Refusal{"text.pdf", "Dear reader,\n"},
                      Refusal{"damaged.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog"},
                      Refusal{"nopages.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R "
                                             ">> endobj trailer << /Root 1 0 R >> %%EOF"}),
    [](const auto &info) {
        std::string name = info.param.name;
        return name.substr(0, name.find('.'));
    });

std::string ReadText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(RemoteDocumentTest, HelperGetsAMinimalEnvironmentAndOnlyItsSocket)
{
    ::setenv("DISPLAY", ":42", 1);
    ::setenv("SSH_AUTH_SOCK", "/tmp/agent", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    RemoteDocument document(helper, Write("sample.pdf", SamplePdf()));
    const std::string proc = "/proc/" + std::to_string(helper->pid());
    const std::string environment = ReadText(proc + "/environ");
    EXPECT_EQ(environment.find("DISPLAY="), std::string::npos);
    EXPECT_EQ(environment.find("SSH_AUTH_SOCK="), std::string::npos);
    EXPECT_NE(environment.find("LC_ALL=C.UTF-8"), std::string::npos);
    std::vector<std::string> descriptors;
    DIR *fds = ::opendir((proc + "/fd").c_str());
    ASSERT_NE(fds, nullptr);
    while (const dirent *entry = ::readdir(fds)) {
        if (entry->d_name[0] != '.') {
            descriptors.emplace_back(entry->d_name);
        }
    }
    ::closedir(fds);
    std::sort(descriptors.begin(), descriptors.end());
    EXPECT_EQ(descriptors, (std::vector<std::string>{"0", "1", "2", "3"}));
    ::unsetenv("DISPLAY");
    ::unsetenv("SSH_AUTH_SOCK");
    ::unsetenv("LC_ALL");
}

// The helper confines itself before it reads a request: no new privileges and a system call
// filter, as the kernel shows them from outside; and it still draws.
TEST_F(RemoteDocumentTest, HelperRunsConfined)
{
    RemoteDocument document(helper, Write("sample.pdf", SamplePdf()));
    EXPECT_GT(document.PageCount(), 0);
    const std::string status = ReadText("/proc/" + std::to_string(helper->pid()) + "/status");
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos) << status;
    EXPECT_NE(status.find("Seccomp:\t2"), std::string::npos) << status;
}

struct Fault {
    const char *name;
    int signal;
    bool duringRender; // else the helper is hit as the next open (a page count) goes to it
    RenderError::Kind kind;
};

class HelperFaultTest : public RemoteDocumentTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(HelperFaultTest, OneCallFailsInTimeAndAFreshHelperServesTheNext)
{
    const Fault fault = GetParam();
    const std::string slow = Write("tiles.pdf", hostile::TinyTilingPattern(0.02));
    const std::string sample = Write("sample.pdf", SamplePdf());
    auto document = std::make_unique<RemoteDocument>(helper, slow);
    const pid_t first = helper->pid();
    const uint64_t generation = helper->generation();
    ASSERT_GT(first, 0);

    const auto start = Clock::now();
    std::thread hit;
    if (fault.duringRender) {
        hit = std::thread([first, signal = fault.signal] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(first, signal);
        });
        const render::PixelSize size = document->PagePixelSize(0, 72, 72);
        std::vector<unsigned char> pixels(static_cast<size_t>(size.width * size.height * 3));
        try {
            document->RenderBand(0, 72, 72, 0, size.height, render::PixelFormat::Rgb, pixels.data(),
                                 size.width * 3);
            ADD_FAILURE() << "the page was drawn";
        } catch (const RenderError &error) {
            EXPECT_EQ(error.kind(), fault.kind) << error.what();
            EXPECT_EQ(std::string(error.what()).rfind(slow + ": ", 0), 0u) << error.what();
        }
    } else {
        ::kill(first, fault.signal);
        try {
            RemoteDocument counted(helper, sample);
            ADD_FAILURE() << "counted " << counted.PageCount() << " pages";
        } catch (const RenderError &error) {
            EXPECT_EQ(error.kind(), fault.kind) << error.what();
            EXPECT_EQ(std::string(error.what()).rfind(sample + ": ", 0), 0u) << error.what();
        }
    }
    const auto took = Clock::now() - start;
    if (hit.joinable()) {
        hit.join();
    }
    EXPECT_LT(took, HelperProcess::kCallTimeout + std::chrono::seconds(1));
    // The helper is gone for good, not left stopped or as a zombie.
    EXPECT_FALSE(helper->running());
    EXPECT_NE(::kill(first, 0), 0);

    // What was open in it fails the same way again, at once, without starting a helper.
    EXPECT_THROW(document->PageSize(0), RenderError);
    EXPECT_FALSE(helper->running());
    try {
        document->DeclaredPageSize(0);
    } catch (const RenderError &error) {
        EXPECT_EQ(error.kind(), fault.duringRender ? fault.kind : RenderError::Kind::Stopped);
    }

    RemoteDocument next(helper, sample);
    EXPECT_EQ(next.PageCount(), 2);
    EXPECT_NE(helper->pid(), first);
    EXPECT_EQ(helper->generation(), generation + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HelperFaultTest,
    ::testing::Values(Fault{"CrashDuringCount", SIGSEGV, false, RenderError::Kind::Stopped},
                      Fault{"HangDuringCount", SIGSTOP, false, RenderError::Kind::TimedOut},
                      Fault{"CrashDuringPreview", SIGSEGV, true, RenderError::Kind::Stopped},
                      Fault{"HangDuringPreview", SIGSTOP, true, RenderError::Kind::TimedOut}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RemoteDocumentTest, RenderTimeoutEndsADrawingThatNeverFinishes)
{
    RemoteDocument document(helper, Write("tiles.pdf", hostile::TinyTilingPattern(0.02)));
    document.SetRenderTimeout(std::chrono::milliseconds(500));
    std::vector<unsigned char> pixels(612 * 3 * 10);
    const auto start = Clock::now();
    try {
        document.RenderBand(0, 72, 72, 0, 10, render::PixelFormat::Rgb, pixels.data(), 612 * 3);
        ADD_FAILURE() << "the page was drawn";
    } catch (const RenderError &error) {
        EXPECT_EQ(error.kind(), RenderError::Kind::TimedOut);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(RemoteDocumentTest, DeepFormChainCountsAndFailsCleanlyOnItsPage)
{
    const std::string path = Write("chain.pdf", hostile::DeepFormChain(60000));
    RemoteDocument document(helper, path);
    EXPECT_EQ(document.PageCount(), 1);
    std::vector<unsigned char> pixels(612 * 3 * 10);
    EXPECT_THROW(
        document.RenderBand(0, 72, 72, 0, 10, render::PixelFormat::Rgb, pixels.data(), 612 * 3),
        RenderError);
    RemoteDocument next(helper, Write("sample.pdf", SamplePdf()));
    EXPECT_EQ(next.PageCount(), 2);
}

} // namespace
