// SPDX-License-Identifier: AGPL-3.0-or-later
// Each restriction proven from inside a confined process: a child is forked, confines itself
// and attempts the thing; what the attempt returned comes back as its exit status.
#include "engine/confinement.h"

#include "render/document.h"
#include "render/test_pdf.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/netlink.h>
#include <sched.h>
#include <set>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using rastool::ConfinementPolicy;

// The world a confined child finds: its input, a folder it may write in, files it may not
// touch, and sockets made before it confined itself.
struct Scene {
    testpdf::TempDir dir;
    std::string input = dir / "in.pdf";
    std::string destination = dir / "out";
    std::string outside = dir / "outside";
    std::string secret = dir / "outside/secret.txt";
    std::string busPath = dir / "bus";
    std::string busName = "pagemint-test-" + std::to_string(::getpid());
    int listeners[2] = {-1, -1}; // a bus at busPath and one at the abstract busName
    int unixSocket = -1;         // made before, not connected
    int inputFd = -1;            // the input, opened before
    int pair[2] = {-1, -1};

    Scene()
    {
        testpdf::Page page;
        page.width = 306;
        page.height = 396;
        page.Rect(0, 0, 306, 396, {255, 0, 0});
        testpdf::WriteFile(input, testpdf::MakePdf({page}));
        ::mkdir(destination.c_str(), 0700);
        ::mkdir(outside.c_str(), 0700);
        testpdf::WriteFile(secret, "not for the converter");
        testpdf::WriteFile(destination + "/old.png", "an earlier output");
        for (int abstract = 0; abstract < 2; ++abstract) {
            listeners[abstract] = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_un address = Address(abstract ? busName : busPath, abstract);
            ::bind(listeners[abstract], reinterpret_cast<const sockaddr *>(&address),
                   sizeof address);
            ::listen(listeners[abstract], 4);
        }
    }
    ~Scene()
    {
        ::close(listeners[0]);
        ::close(listeners[1]);
    }
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    static sockaddr_un Address(const std::string &name, bool abstract)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path + (abstract ? 1 : 0), name.c_str(),
                     sizeof address.sun_path - 2);
        return address;
    }
};

// The result of an attempt: 0 when it worked, else the errno it failed with.
int Errno(bool ok)
{
    return ok ? 0 : errno;
}

int OpenAndClose(const std::string &path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    const int error = errno;
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    return error;
}

using Attempt = std::function<int(Scene &)>;

// Runs the attempt in a forked child, confined by the policy unless `confine` is false; returns
// the attempt's result, or -1 when the child did not exit by itself (killed by a signal).
int InChild(Scene &scene, const ConfinementPolicy &policy, const Attempt &attempt,
            bool confine = true)
{
    scene.unixSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    scene.inputFd = ::open(scene.input.c_str(), O_RDONLY | O_CLOEXEC);
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, scene.pair);
    const pid_t child = ::fork();
    if (child == 0) {
        int result = 0;
        try {
            if (confine) {
                rastool::Confine(policy);
            }
            result = attempt(scene);
        } catch (const std::exception &) {
            result = 250;
        }
        ::_exit(result > 255 ? 255 : result);
    }
    ::close(scene.unixSocket);
    ::close(scene.inputFd);
    ::close(scene.pair[0]);
    ::close(scene.pair[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ConfinementPolicy EnginePolicy(const Scene &scene)
{
    return {{scene.input, rastool::kColourProfileFolder}, scene.destination, true};
}

// The helper that serves previews: reads what it is given, writes nothing.
ConfinementPolicy ServicePolicy(const Scene &scene)
{
    return {{scene.input}, scene.destination, false};
}

enum class Policy {
    Engine,  // reads its input, writes in its destination
    Service, // reads what it is given, writes nothing
    Nothing, // works on what it had open before, opens nothing
};

struct Case {
    const char *name;
    Policy policy;
    bool landlock; // needs the kernel's Landlock
    Attempt attempt;
    int expected; // 0: allowed; else the errno the attempt fails with
};

int Connect(int fd, const std::string &name, bool abstract)
{
    const sockaddr_un address = Scene::Address(name, abstract);
    return Errno(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
}

int PassDescriptor(int from, int to)
{
    // One descriptor over the pair, as the preview helper receives its files.
    char byte = 'x';
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int passed = STDOUT_FILENO;
    std::memcpy(CMSG_DATA(header), &passed, sizeof passed);
    if (::sendmsg(from, &message, 0) != 1) {
        return errno;
    }
    msghdr received{};
    char back = 0;
    iovec into{&back, 1};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
    received.msg_iov = &into;
    received.msg_iovlen = 1;
    received.msg_control = space;
    received.msg_controllen = sizeof space;
    if (::recvmsg(to, &received, 0) != 1) {
        return errno;
    }
    const cmsghdr *got = CMSG_FIRSTHDR(&received);
    return got != nullptr && got->cmsg_type == SCM_RIGHTS ? 0 : EPROTO;
}

std::vector<Case> Cases()
{
    const auto socketOf = [](int family, int type) {
        return [family, type](Scene &) {
            const int fd = ::socket(family, type, 0);
            return Errno(fd >= 0);
        };
    };
    return {
        // Refused by the system call filter.
        {"SocketInet", Policy::Engine, false, socketOf(AF_INET, SOCK_STREAM), EPERM},
        {"SocketInetDatagram", Policy::Engine, false, socketOf(AF_INET, SOCK_DGRAM), EPERM},
        {"SocketInet6", Policy::Engine, false, socketOf(AF_INET6, SOCK_STREAM), EPERM},
        {"SocketNetlink", Policy::Engine, false, socketOf(AF_NETLINK, SOCK_RAW), EPERM},
        {"SocketPacket", Policy::Engine, false, socketOf(AF_PACKET, SOCK_RAW), EPERM},
        {"SocketUnix", Policy::Service, false, socketOf(AF_UNIX, SOCK_STREAM), EPERM},
        {"ConnectAbstract", Policy::Service, false,
         [](Scene &s) { return Connect(s.unixSocket, s.busName, true); }, EPERM},
        {"ConnectPath", Policy::Engine, false,
         [](Scene &s) { return Connect(s.unixSocket, s.busPath, false); }, EPERM},
        {"Execve", Policy::Service, false,
         [](Scene &) {
             char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
             char *const envp[] = {nullptr};
             return Errno(::execve("/bin/true", argv, envp) == 0);
         },
         EPERM},
        {"PtraceParent", Policy::Engine, false,
         [](Scene &) { return Errno(::ptrace(PTRACE_ATTACH, ::getppid(), 0, 0) == 0); }, EPERM},
        {"PtraceMe", Policy::Service, false,
         [](Scene &) { return Errno(::ptrace(PTRACE_TRACEME, 0, 0, 0) == 0); }, EPERM},
        {"ReadParentMemory", Policy::Engine, false,
         [](Scene &) {
             char here[8];
             static char there[8];
             iovec local{here, sizeof here}, remote{there, sizeof there};
             return Errno(::process_vm_readv(::getppid(), &local, 1, &remote, 1, 0) >= 0);
         },
         EPERM},
        {"NewUserNamespace", Policy::Engine, false,
         [](Scene &) { return Errno(::unshare(CLONE_NEWUSER) == 0); }, EPERM},
        {"MakeDumpableAgain", Policy::Engine, false,
         [](Scene &) { return Errno(::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) == 0); }, EPERM},
        // Given up for good.
        {"NoCoreDumps", Policy::Engine, false,
         [](Scene &) {
             rlimit core{};
             ::getrlimit(RLIMIT_CORE, &core);
             const bool off = core.rlim_cur == 0 && core.rlim_max == 0 &&
                              ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
             return off ? 0 : 1;
         },
         0},
        {"NoNewPrivileges", Policy::Service, false,
         [](Scene &) { return ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 ? 0 : 1; }, 0},
        // Refused by the file rules.
        {"ReadOutside", Policy::Engine, true,
         [](Scene &s) { return OpenAndClose(s.secret, O_RDONLY); }, EACCES},
        {"ReadHome", Policy::Service, true,
         [](Scene &) { return OpenAndClose("/etc/passwd", O_RDONLY); }, EACCES},
        {"ListOutside", Policy::Engine, true,
         [](Scene &s) { return OpenAndClose(s.outside, O_RDONLY | O_DIRECTORY); }, EACCES},
        {"WriteInput", Policy::Engine, true,
         [](Scene &s) { return OpenAndClose(s.input, O_WRONLY); }, EACCES},
        {"CreateOutside", Policy::Engine, true,
         [](Scene &s) { return OpenAndClose(s.outside + "/new.png", O_WRONLY | O_CREAT); }, EACCES},
        {"OverwriteOutside", Policy::Engine, true,
         [](Scene &s) { return OpenAndClose(s.secret, O_WRONLY | O_TRUNC); }, EACCES},
        {"RemoveOutside", Policy::Engine, true,
         [](Scene &s) { return Errno(::unlink(s.secret.c_str()) == 0); }, EACCES},
        {"RenameOutOfDestination", Policy::Engine, true,
         [](Scene &s) {
             return Errno(::rename((s.destination + "/old.png").c_str(),
                                   (s.outside + "/x.png").c_str()) == 0);
         },
         EACCES},
        {"LinkInDestination", Policy::Engine, true,
         [](Scene &s) {
             return Errno(::symlink(s.secret.c_str(), (s.destination + "/link").c_str()) == 0);
         },
         EACCES},
        {"FolderInDestination", Policy::Engine, true,
         [](Scene &s) { return Errno(::mkdir((s.destination + "/sub").c_str(), 0700) == 0); },
         EACCES},
        {"PipeInDestination", Policy::Engine, true,
         [](Scene &s) { return Errno(::mkfifo((s.destination + "/fifo").c_str(), 0600) == 0); },
         EACCES},
        {"ServiceCreates", Policy::Service, true,
         [](Scene &s) {
             return OpenAndClose(s.destination + "/new.png", O_WRONLY | O_CREAT | O_EXCL);
         },
         EACCES},
        {"ServiceUnnamedFile", Policy::Service, true,
         [](Scene &s) { return OpenAndClose(s.destination, O_TMPFILE | O_RDWR); }, EACCES},
        {"ServiceRemoves", Policy::Service, true,
         [](Scene &s) { return Errno(::unlink((s.destination + "/old.png").c_str()) == 0); },
         EACCES},
        {"NothingOpensItsInput", Policy::Nothing, true,
         [](Scene &s) { return OpenAndClose(s.input, O_RDONLY); }, EACCES},
        {"NothingReadsWhatWasOpen", Policy::Nothing, false,
         [](Scene &s) {
             char head[5] = {};
             return ::pread(s.inputFd, head, 5, 0) == 5 && std::memcmp(head, "%PDF-", 5) == 0 ? 0
                                                                                              : 1;
         },
         0},
        {"NothingSharesMemory", Policy::Nothing, false,
         [](Scene &) {
             const int fd = ::memfd_create("pixels", MFD_CLOEXEC);
             return Errno(fd >= 0 && ::ftruncate(fd, 1 << 20) == 0);
         },
         0},
        // What the engine and the helper need keeps working.
        {"ReadInput", Policy::Service, false,
         [](Scene &s) { return OpenAndClose(s.input, O_RDONLY); }, 0},
        {"ReadColourProfile", Policy::Engine, false,
         [](Scene &) {
             const std::string profile =
                 std::string(rastool::kColourProfileFolder) + "/ghostscript/default_cmyk.icc";
             return ::access(profile.c_str(), F_OK) != 0 ? 0 : OpenAndClose(profile, O_RDONLY);
         },
         0},
        {"WriteInDestination", Policy::Engine, false,
         [](Scene &s) {
             const std::string temp = s.destination + "/.part";
             const std::string final = s.destination + "/old.png";
             const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
             if (fd < 0 || ::write(fd, "png", 3) != 3 || ::close(fd) != 0) {
                 return errno;
             }
             return Errno(::rename(temp.c_str(), final.c_str()) == 0);
         },
         0},
        {"UnnamedFileLinkedIn", Policy::Engine, false,
         [](Scene &s) {
             const int fd = ::open(s.destination.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
             if (fd < 0 || ::write(fd, "png", 3) != 3) {
                 return errno;
             }
             const std::string proc = "/proc/self/fd/" + std::to_string(fd);
             return Errno(::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD,
                                   (s.destination + "/new.png").c_str(), AT_SYMLINK_FOLLOW) == 0);
         },
         0},
        {"RemoveInDestination", Policy::Engine, false,
         [](Scene &s) { return Errno(::unlink((s.destination + "/old.png").c_str()) == 0); }, 0},
        {"Threads", Policy::Service, false,
         [](Scene &) {
             std::vector<std::thread> threads;
             std::vector<int> done(4, 0);
             for (size_t i = 0; i < done.size(); ++i) {
                 threads.emplace_back([&done, i] { done[i] = 1; });
             }
             for (auto &t : threads) {
                 t.join();
             }
             return done == std::vector<int>(4, 1) ? 0 : 1;
         },
         0},
        {"SocketPairUnix", Policy::Service, false,
         [](Scene &) {
             int fds[2];
             return Errno(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
         },
         0},
        {"DescriptorsOverAnInheritedPair", Policy::Service, false,
         [](Scene &s) { return PassDescriptor(s.pair[0], s.pair[1]); }, 0},
        {"RenderAPage", Policy::Service, false,
         [](Scene &s) {
             // Two documents drawn on two threads at once, as the engine's workers do.
             render::Document first(s.input), second(s.input);
             std::vector<unsigned char> a(306 * 3 * 16), b(a.size());
             std::thread other([&] {
                 second.RenderBand(0, 72, 72, 100, 16, render::PixelFormat::Rgb, b.data(), 306 * 3);
             });
             first.RenderBand(0, 72, 72, 100, 16, render::PixelFormat::Rgb, a.data(), 306 * 3);
             other.join();
             return a == b && a[0] == 255 && a[1] == 0 && a[2] == 0 ? 0 : 1;
         },
         0},
    };
}

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class ConfinementTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConfinementTest, AttemptFromInside)
{
    const Case &c = GetParam();
    if (c.landlock && rastool::LandlockAbi() == 0) {
        GTEST_SKIP() << "this kernel has no Landlock: files are not confined here";
    }
#if defined(__SANITIZE_ADDRESS__)
    if (std::string(c.name).rfind("Ptrace", 0) == 0) {
        GTEST_SKIP() << "the leak checker of a sanitizer build stops threads with ptrace";
    }
#endif
    Scene scene;
    const ConfinementPolicy policy = c.policy == Policy::Engine ? EnginePolicy(scene)
                                     : c.policy == Policy::Service
                                         ? ServicePolicy(scene)
                                         : ConfinementPolicy{{}, {}, false};
    // The attempt is what it claims: unconfined, a refused one works. Not tried unconfined:
    // what needs privileges or a kernel setting of its own, and stopping the test itself.
    static const std::set<std::string> notTriedFree{"NewUserNamespace", "SocketPacket",
                                                    "PtraceParent"};
    if (c.expected != 0 && notTriedFree.count(c.name) == 0) {
        Scene free;
        EXPECT_EQ(InChild(free, policy, c.attempt, false), 0) << "works without confinement";
    }
    EXPECT_EQ(InChild(scene, policy, c.attempt), c.expected) << std::strerror(c.expected);
}

INSTANTIATE_TEST_SUITE_P(Confined, ConfinementTest, ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ConfinementReportTest, SaysWhatThisKernelApplied)
{
    Scene scene;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const rastool::ConfinementReport report = rastool::Confine(EnginePolicy(scene));
        const int values[] = {report.noNewPrivileges, report.noCoreDumps, report.seccomp,
                              report.landlockAbi};
        ::_exit(::write(pipeEnds[1], values, sizeof values) == sizeof values ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    int values[4] = {};
    EXPECT_EQ(::read(pipeEnds[0], values, sizeof values), static_cast<ssize_t>(sizeof values));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 1);
    EXPECT_EQ(values[2], 1);
    EXPECT_EQ(values[3], rastool::LandlockAbi());
    std::printf(
        "confinement here: no_new_privs %d, no core dumps %d, seccomp %d, Landlock ABI %d\n",
        values[0], values[1], values[2], values[3]);
}

// Confinement after a thread has started would leave that thread free: refused.
TEST(ConfinementReportTest, RefusedOnceThreadsRun)
{
    Scene scene;
    const int result = InChild(
        scene, EnginePolicy(scene),
        [](Scene &s) {
            int wake[2];
            if (::pipe(wake) != 0) {
                return 2;
            }
            std::thread waiting([&wake] {
                char c;
                (void)!::read(wake[0], &c, 1);
            });
            int outcome = 0;
            try {
                rastool::Confine(EnginePolicy(s));
            } catch (const std::exception &) {
                outcome = 1;
            }
            (void)!::write(wake[1], "x", 1);
            waiting.join();
            return outcome;
        },
        false);
    EXPECT_EQ(result, 1);
}

} // namespace
