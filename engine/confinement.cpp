// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/confinement.h"

#include "engine/descriptor.h"
#include "engine/exit_status.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Rights of later kernels than the headers this is built with; the values are the kernel's ABI.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace rastool {

namespace {

[[noreturn]] void Fail(const std::string &what, int error)
{
    throw Failure(ExitStatus::Internal,
                  "cannot confine the converter: " + what + ": " + std::strerror(error));
}

// Landlock rules bind only the calling thread and its later children: a thread started before
// would stay free, so confinement refuses to run late rather than leave one unconfined.
bool IsSingleThreaded()
{
    DIR *tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return true;
    }
    int count = 0;
    while (const dirent *entry = ::readdir(tasks)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(tasks);
    return count <= 1;
}

// ---- Landlock, through its system calls (the C library has no wrappers).

// The attribute as the latest kernels read it; older ones are given the leading part they know.
struct RulesetAttr {
    uint64_t handledAccessFs;
    uint64_t handledAccessNet;
    uint64_t scoped;
};

constexpr uint64_t kReadRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// A file is written without a name and linked in, or under a temporary name and renamed; a
// file of the same name is replaced, and leftovers of a killed run are removed.
constexpr uint64_t kWriteRights = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG |
                                  LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_REFER |
                                  LANDLOCK_ACCESS_FS_TRUNCATE;
// Rights that a rule on a file (not a folder) may carry.
constexpr uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                 LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                                 LANDLOCK_ACCESS_FS_IOCTL_DEV;

uint64_t FsRightsOf(int abi)
{
    uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // the thirteen rights of version 1
    if (abi >= 2) {
        rights |= LANDLOCK_ACCESS_FS_REFER;
    }
    if (abi >= 3) {
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    }
    if (abi >= 5) {
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    }
    return rights;
}

// Lets the rights (those the ruleset handles) below path; a path that is not there is skipped.
void Allow(int ruleset, const std::string &path, uint64_t rights, uint64_t handled)
{
    const Descriptor target(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (target.get() < 0) {
        return;
    }
    struct stat info {};
    if (::fstat(target.get(), &info) != 0) {
        Fail("cannot look at " + path, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        rights &= kFileRights;
    }
    landlock_path_beneath_attr rule{};
    rule.allowed_access = rights & handled;
    rule.parent_fd = target.get();
    if (rule.allowed_access != 0 &&
        ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
        Fail("cannot let it use " + path, errno);
    }
}

void ApplyLandlock(const ConfinementPolicy &policy, int abi)
{
    RulesetAttr attr{};
    attr.handledAccessFs = FsRightsOf(abi);
    size_t size = sizeof attr.handledAccessFs;
    if (abi >= 4) {
        // No TCP at all, on top of the system call filter.
        attr.handledAccessNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
        size = offsetof(RulesetAttr, scoped);
    }
    if (abi >= 6) {
        // Neither abstract sockets nor signals reach processes outside this one.
        attr.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
        size = sizeof attr;
    }
    const Descriptor ruleset(
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, size, 0)));
    if (ruleset.get() < 0) {
        Fail("cannot make its file rules", errno);
    }
    for (const std::string &path : policy.readOnly) {
        Allow(ruleset.get(), path, kReadRights, attr.handledAccessFs);
    }
    if (policy.writes && !policy.writableFolder.empty()) {
        Allow(ruleset.get(), policy.writableFolder, kReadRights | kWriteRights,
              attr.handledAccessFs);
    }
#if defined(__SANITIZE_ADDRESS__)
    // The leak checker reads the process's memory map when the process ends.
    Allow(ruleset.get(), "/proc", kReadRights, attr.handledAccessFs);
#endif
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) {
        Fail("cannot apply its file rules", errno);
    }
}

// ---- The system call filter: everything rendering and writing need stays allowed; what only
// a taken-over process would want is refused with EPERM.

class Filter {
public:
    Filter() : ctx_(seccomp_init(SCMP_ACT_ALLOW))
    {
        if (ctx_ == nullptr) {
            Fail("cannot make its system call filter", ENOMEM);
        }
        // Every system call of the process runs through the filter: a binary search over the
        // refused ones costs a few comparisons where a list would cost one per refused call.
        seccomp_attr_set(ctx_, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    }
    ~Filter() { seccomp_release(ctx_); }
    Filter(const Filter &) = delete;
    Filter &operator=(const Filter &) = delete;

    // A system call this kernel's table does not know is skipped: nothing can call it.
    void Refuse(const char *name, int error = EPERM)
    {
        const int number = seccomp_syscall_resolve_name(name);
        if (number != __NR_SCMP_ERROR) {
            Check(seccomp_rule_add(ctx_, SCMP_ACT_ERRNO(static_cast<uint32_t>(error)), number, 0),
                  name);
        }
    }
    void RefuseWhen(const char *name, scmp_arg_cmp condition)
    {
        const int number = seccomp_syscall_resolve_name(name);
        if (number != __NR_SCMP_ERROR) {
            Check(seccomp_rule_add(ctx_, SCMP_ACT_ERRNO(EPERM), number, 1, condition), name);
        }
    }
    void Load() { Check(seccomp_load(ctx_), "load"); }

private:
    static void Check(int result, const char *what)
    {
        if (result < 0) {
            Fail(std::string("system call filter, ") + what, -result);
        }
    }
    scmp_filter_ctx ctx_;
};

constexpr const char *kRefused[] = {
    // network and new sockets (an inherited socket keeps working; socketpair below)
    "socket", "connect", "bind", "listen", "accept", "accept4",
    // other programs
    "execve", "execveat",
    // other processes' memory and descriptors
    "ptrace", "process_vm_readv", "process_vm_writev", "pidfd_getfd", "kcmp",
    // file systems and namespaces
    "mount", "umount2", "pivot_root", "chroot", "setns", "unshare", "open_tree", "move_mount",
    "fsopen", "fsconfig", "fsmount", "fspick", "mount_setattr", "name_to_handle_at",
    "open_by_handle_at", "quotactl", "swapon", "swapoff",
    // kernel interfaces that have been the way in for privilege escalations
    "keyctl", "add_key", "request_key", "bpf", "perf_event_open", "userfaultfd", "io_uring_setup",
    "io_uring_enter", "io_uring_register", "fanotify_init", "uselib", "personality",
    // administration
    "kexec_load", "kexec_file_load", "init_module", "finit_module", "delete_module", "reboot",
    "acct", "syslog", "vhangup", "iopl", "ioperm", "settimeofday", "clock_settime", "clock_adjtime",
    "adjtimex", "sethostname", "setdomainname", "lookup_dcookie"};

constexpr uint64_t kNamespaceFlags[] = {CLONE_NEWNS,  CLONE_NEWUTS, CLONE_NEWIPC,   CLONE_NEWUSER,
                                        CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWCGROUP};

void ApplySeccomp()
{
    Filter filter;
    for (const char *name : kRefused) {
#if defined(__SANITIZE_ADDRESS__)
        // The leak checker stops the threads with ptrace when the process ends.
        if (std::strcmp(name, "ptrace") == 0) {
            continue;
        }
#endif
        filter.Refuse(name);
    }
    // Threads are clone() without new namespaces; clone3 hides its flags from the filter, and
    // ENOSYS makes the C library fall back to clone().
    for (const uint64_t flag : kNamespaceFlags) {
        filter.RefuseWhen("clone", SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
    }
    filter.Refuse("clone3", ENOSYS);
    filter.RefuseWhen("socketpair", SCMP_A0(SCMP_CMP_NE, AF_UNIX));
    // Typing into the terminal the process was started from.
    filter.RefuseWhen("ioctl", SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffu, TIOCSTI));
    filter.RefuseWhen("ioctl", SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffu, TIOCLINUX));
    // No way back to a process whose memory others may read or that leaves a core.
    filter.RefuseWhen("prctl", SCMP_A0(SCMP_CMP_EQ, PR_SET_DUMPABLE));
    filter.Load();
}

} // namespace

int LandlockAbi()
{
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

ConfinementReport Confine(const ConfinementPolicy &policy)
{
    if (!IsSingleThreaded()) {
        throw Failure(ExitStatus::Internal,
                      "cannot confine the converter: it has started threads already");
    }
    ConfinementReport report;
    const rlimit noCore{0, 0};
    if (::setrlimit(RLIMIT_CORE, &noCore) != 0 || ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        Fail("cannot turn core dumps off", errno);
    }
    report.noCoreDumps = true;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        Fail("cannot give up new privileges", errno);
    }
    report.noNewPrivileges = true;
    report.landlockAbi = LandlockAbi();
    if (report.landlockAbi > 0) {
        ApplyLandlock(policy, report.landlockAbi);
    }
    ApplySeccomp();
    report.seccomp = true;
    return report;
}

} // namespace rastool
