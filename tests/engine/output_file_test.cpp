// SPDX-License-Identifier: AGPL-3.0-or-later
// The output file: named only when complete, long names, and what a killed process leaves.
#include "engine/exit_status.h"
#include "engine/output_file.h"
#include "rastool_runner.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using engine_test::FilesIn;
using engine_test::ReadAll;
using rastool::OutputFile;

void Write(OutputFile &file, const std::string &bytes)
{
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()), bytes.size());
}

class OutputFileTest : public ::testing::TestWithParam<OutputFile::Naming> {
protected:
    testpdf::TempDir dir;
};

// Both ways of writing: nothing of the new file shows before Commit(), an existing file is
// replaced whole, and names up to the file system's limit work (a temporary name must not add
// to the length of the final one).
TEST_P(OutputFileTest, InvisibleUntilCommittedAtAnyLegalLength)
{
    for (const size_t length : {5u, 245u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".tif";
        const std::string path = dir / name;
        testpdf::WriteFile(path, "old");
        {
            OutputFile file(path, GetParam());
            Write(file, "new contents");
            EXPECT_EQ(ReadAll(path), "old");
            const auto during = FilesIn(dir.path());
            EXPECT_EQ(during.size(), GetParam() == OutputFile::Naming::Unnamed ? 1u : 2u);
            file.Commit();
        }
        EXPECT_EQ(ReadAll(path), "new contents") << length;
        EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{name});
        ::unlink(path.c_str());
        {
            OutputFile file(path, GetParam());
            Write(file, "fresh");
            file.Commit();
        }
        EXPECT_EQ(ReadAll(path), "fresh") << length;
        ::unlink(path.c_str());
    }
}

TEST_P(OutputFileTest, NeverCommittedLeavesNothing)
{
    {
        OutputFile file(dir / "a.png", GetParam());
        Write(file, "unfinished");
    }
    EXPECT_TRUE(FilesIn(dir.path()).empty());
}

TEST_P(OutputFileTest, MissingFolderNamesTheFileAndTheCause)
{
    try {
        OutputFile file(dir / "none/a.png", GetParam());
        FAIL() << "created a file in a missing folder";
    } catch (const rastool::Failure &e) {
        EXPECT_EQ(e.status(), rastool::ExitStatus::OutputUnwritable);
        EXPECT_EQ(std::string(e.what()),
                  "cannot write " + (dir / "none/a.png") + ": the folder does not exist");
    }
}

// Something other than a file at the output's name (planted there by someone else, in a
// folder others can write) fails the run with a reason that says what is there, and stays as
// it was: a link still points where it pointed, and what it points to is not written.
struct Obstacle {
    const char *name;
    void (*plant)(const std::string &path, const std::string &target);
    const char *reason;
};

const Obstacle kObstacles[] = {
    {"Link",
     [](const std::string &path, const std::string &target) {
         ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
     },
     "a symbolic link has that name"},
    {"DanglingLink",
     [](const std::string &path, const std::string &) {
         ASSERT_EQ(::symlink("/nonexistent/planted", path.c_str()), 0);
     },
     "a symbolic link has that name"},
    {"Folder",
     [](const std::string &path, const std::string &) {
         ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
     },
     "a folder has that name"},
    {"Pipe",
     [](const std::string &path, const std::string &) {
         ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
     },
     "a special file has that name"},
};

TEST_P(OutputFileTest, SomethingPlantedAtTheNameIsNamedAndKept)
{
    for (const Obstacle &obstacle : kObstacles) {
        for (const bool beforeCommit : {false, true}) {
            SCOPED_TRACE(std::string(obstacle.name) + (beforeCommit ? " before commit" : ""));
            const std::string path = dir / "page.png";
            const std::string target = dir / "target.txt";
            testpdf::WriteFile(target, "the user's file");
            try {
                if (!beforeCommit) {
                    obstacle.plant(path, target);
                }
                OutputFile file(path, GetParam());
                Write(file, "new contents");
                if (beforeCommit) {
                    obstacle.plant(path, target);
                }
                file.Commit();
                FAIL() << "written over it";
            } catch (const rastool::Failure &e) {
                EXPECT_EQ(e.status(), rastool::ExitStatus::OutputUnwritable);
                EXPECT_EQ(std::string(e.what()), "cannot write " + path + ": " + obstacle.reason);
            }
            struct stat info {};
            EXPECT_EQ(::lstat(path.c_str(), &info), 0);
            EXPECT_FALSE(S_ISREG(info.st_mode));
            EXPECT_EQ(ReadAll(target), "the user's file");
            EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"page.png", "target.txt"}));
            ::unlink(path.c_str());
            ::rmdir(path.c_str());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Naming, OutputFileTest,
                         ::testing::Values(OutputFile::Naming::Unnamed,
                                           OutputFile::Naming::Temporary),
                         [](const auto &info) {
                             return info.param == OutputFile::Naming::Unnamed ? "Unnamed"
                                                                              : "Temporary";
                         });

// Where files must be written under a temporary name, a process killed with SIGKILL leaves its
// temporary file; the next run removes it, and only what dead processes of this machine left:
// never a file the user may have made.
TEST(OutputFileStaleTest, TemporariesOfKilledProcessesAreRemoved)
{
    testpdf::TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputFile file(dir / "out.tif", OutputFile::Naming::Temporary);
        std::fputs("half a page", file.Stream());
        std::fflush(file.Stream());
        (void)!::write(ready[1], "x", 1);
        ::pause();
        std::_Exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto left = FilesIn(dir.path());
    ASSERT_EQ(left.size(), 1u);
    const std::string stale = *left.begin();

    // The same kind of name, but of a process that is running (this one's parent), and files
    // that only look alike.
    std::string alive = stale;
    alive.replace(alive.find('-', 10) + 1, std::to_string(child).size(),
                  std::to_string(::getppid()));
    for (const std::string &name :
         {alive, std::string(".rastool-notes.tmp"), std::string("keep.tif"), stale + ".bak"}) {
        testpdf::WriteFile(dir / name, "someone else's");
    }
    // Users' own files that look like an earlier version's temporaries (".<name>.<image
    // type>-<digits>-<digits>"), even old ones whose number is no running process, are kept.
    const std::string dead = std::to_string(child);
    const std::vector<std::string> users = {
        ".scan.png-2023-11",      ".photo.jpg-2024-05",         ".notes.tif-1999-12",
        ".backup.bmp-20240101-1", ".report.tif-" + dead + "-3", ".report.PNG-" + dead + "-0"};
    for (const std::string &name : users) {
        testpdf::WriteFile(dir / name, "the user's own");
        const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3 * 86400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
    }
    EXPECT_EQ(OutputFile::RemoveStaleTemporaries(dir.path()), 1);
    const auto after = FilesIn(dir.path());
    EXPECT_EQ(after.count(stale), 0u);
    for (const std::string &name : users) {
        EXPECT_EQ(after.count(name), 1u) << name;
    }
    EXPECT_EQ(after.size(), 4u + users.size());
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(PageFileNameTest, WidthComesFromTheDocumentNotTheRange)
{
    using rastool::PageFileName;
    EXPECT_EQ(PageFileName("/out/r.png", 1, 2415), "/out/r-0001.png");
    EXPECT_EQ(PageFileName("/out/r.png", 1001, 2415), "/out/r-1001.png");
    EXPECT_EQ(PageFileName("/out/r.png", 12, 99), "/out/r-012.png");
}

} // namespace
