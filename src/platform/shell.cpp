// SPDX-License-Identifier: MIT
#include "platform/shell.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace ovk {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one check of a waited-for process may block before the caller's user interface gets
// its turn again.
constexpr milliseconds kWaitSlice{50};
// Without a process descriptor the exit can only be polled; this keeps that polling cheap.
constexpr milliseconds kFallbackPollInterval{10};

// Children whose handles were dropped while they still ran. They are reaped by pid only, never
// with "any child", so the host's own children are left alone.
std::mutex& orphanMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<pid_t>& orphans() {
    static std::vector<pid_t> pids;
    return pids;
}

// True when the child has ended. ECHILD counts as ended: the host reaps children itself (or
// ignores SIGCHLD), and then the exit status is lost but the process is gone all the same.
bool reapIfEnded(pid_t pid, std::optional<int>& status) {
    int raw = 0;
    pid_t got = 0;
    do {
        got = waitpid(pid, &raw, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == pid) {
        status = raw;
        return true;
    }
    if (got < 0) {
        status.reset();
        return true;
    }
    return false;
}

void reapOrphans() {
    std::lock_guard lock(orphanMutex());
    std::erase_if(orphans(), [](pid_t pid) {
        std::optional<int> ignored;
        return reapIfEnded(pid, ignored);
    });
}

void adoptOrphan(pid_t pid) {
    std::lock_guard lock(orphanMutex());
    orphans().push_back(pid);
}

int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Our own child: the process the opener runs in. A process descriptor, where the kernel offers
// one, lets the wait sleep until the exit instead of polling for it.
class ChildProcess final : public StartedProcess {
  public:
    explicit ChildProcess(pid_t pid) : pid_(pid), descriptor_(openProcessDescriptor(pid)) {}
    ~ChildProcess() override {
        if (!ended_ && !reapIfEnded(pid_, status_)) adoptOrphan(pid_);
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t processId() const override { return pid_; }

    void waitForExit(const std::function<void()>& whileWaiting) override {
        while (!waitFor(kWaitSlice)) {
            if (whileWaiting) whileWaiting();
        }
    }

    // Waits at most `timeout` for the exit and reaps the child. True when it has ended.
    bool waitFor(milliseconds timeout) {
        if (ended_) return true;
        const auto deadline = Clock::now() + timeout;
        if (descriptor_ >= 0) {
            for (;;) {
                const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
                pollfd entry{descriptor_, POLLIN, 0};
                const int ready =
                    ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
                if (ready > 0) break;
                if (ready == 0) return false;
                if (errno != EINTR) return pollUntil(deadline);
            }
            // The descriptor reports the exit, so this reaps without blocking for long.
            int raw = 0;
            pid_t got = 0;
            do {
                got = waitpid(pid_, &raw, 0);
            } while (got < 0 && errno == EINTR);
            if (got == pid_) status_ = raw;
            ended_ = true;
            return true;
        }
        return pollUntil(deadline);
    }

    // The raw wait status, when the child ended and its status could be collected.
    const std::optional<int>& status() const { return status_; }

  private:
    bool pollUntil(Clock::time_point deadline) {
        for (;;) {
            if (reapIfEnded(pid_, status_)) {
                ended_ = true;
                return true;
            }
            const auto now = Clock::now();
            if (now >= deadline) return false;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(kFallbackPollInterval, deadline - now));
        }
    }

    pid_t pid_;
    int descriptor_;
    bool ended_ = false;
    std::optional<int> status_;
};

// "scheme:" as an address starts (a letter, then letters, digits, "+", "-" or "."). A single
// letter is not taken for a scheme, so that a drive-letter path stays a path.
bool hasAddressScheme(const std::string& target) {
    const auto colon = target.find(':');
    if (colon == std::string::npos || colon < 2) return false;
    if (!std::isalpha(static_cast<unsigned char>(target[0]))) return false;
    return std::all_of(target.begin() + 1, target.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) {
                           const auto u = static_cast<unsigned char>(c);
                           return std::isalnum(u) || c == '+' || c == '-' || c == '.';
                       });
}

int32_t resultOfSpawnError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return shell_result::NoAssociation;  // no opener installed: nothing can open it
        case EACCES:
        case EPERM:
        case ENOEXEC:
            return shell_result::AccessDenied;
        default:
            return shell_result::OutOfResources;
    }
}

int32_t resultOfExitStatus(const std::optional<int>& status) {
    // The status was collected by someone else: the opener was started and has finished, and
    // that is all that can be known.
    if (!status) return shell_result::Started;
    if (!WIFEXITED(*status)) return shell_result::AccessDenied;
    switch (WEXITSTATUS(*status)) {
        case 0:
            return shell_result::Started;
        case 2:
            return shell_result::FileNotFound;
        case 3:  // a tool the opener needs is missing
        case 4:  // the opener found no way to open the target
            return shell_result::NoAssociation;
        default:
            return shell_result::AccessDenied;
    }
}

// Owns the spawn attribute objects so every exit path releases them.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The opener must not inherit what belongs to the host: its input (the opened program would
// read what the host expects), its standard output (hosts print results there; the opener's
// chatter goes to standard error instead), its other open files, its blocked and ignored
// signals, and its process group (a Ctrl-C meant for the host must not close the browser).
int prepareSpawn(SpawnSetup& setup, const std::optional<fs::path>& workingDirectory) {
    auto* actions = &setup.actions;
    if (workingDirectory) {
        if (const int rc = posix_spawn_file_actions_addchdir_np(actions, workingDirectory->c_str()))
            return rc;
    }
    if (const int rc =
            posix_spawn_file_actions_addopen(actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0))
        return rc;
    const bool haveStderr = ::fcntl(STDERR_FILENO, F_GETFD) != -1;
    if (const int rc = haveStderr
                           ? posix_spawn_file_actions_adddup2(actions, STDERR_FILENO, STDOUT_FILENO)
                           : posix_spawn_file_actions_addopen(actions, STDOUT_FILENO, "/dev/null",
                                                              O_WRONLY, 0))
        return rc;
    if (!haveStderr) {
        if (const int rc =
                posix_spawn_file_actions_addopen(actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0))
            return rc;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (const int rc = posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1))
        return rc;
#endif

    auto* attributes = &setup.attributes;
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    if (const int rc = posix_spawnattr_setsigmask(attributes, &none)) return rc;
    if (const int rc = posix_spawnattr_setsigdefault(attributes, &all)) return rc;
    if (const int rc = posix_spawnattr_setpgroup(attributes, 0)) return rc;
    return posix_spawnattr_setflags(
        attributes,
        static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));
}

}  // namespace

XdgOpenShell::XdgOpenShell(std::string program, milliseconds exitGrace)
    : program_(std::move(program)), exitGrace_(exitGrace) {}

ShellResult XdgOpenShell::open(const ShellRequest& request) {
    reapOrphans();

    const std::string& target = request.target;
    // No file has an empty name or a NUL inside it, and an argument could not carry either.
    if (target.empty() || target.find('\0') != std::string::npos)
        return {shell_result::FileNotFound, nullptr};

    std::error_code ec;
    if (request.workingDirectory && !fs::is_directory(*request.workingDirectory, ec)) {
        return {shell_result::PathNotFound, nullptr};
    }

    std::string argument = target;
    if (!hasAddressScheme(target)) {
        // A local file. It is looked for where the opener will run, so both agree on which file
        // is meant, and a missing one is reported the same way whatever opener the desktop has.
        fs::path file(target);
        if (file.is_relative())
            file = (request.workingDirectory ? *request.workingDirectory : fs::current_path(ec)) /
                   file;
        const bool exists = fs::exists(file, ec);
        if (ec == std::errc::permission_denied) return {shell_result::AccessDenied, nullptr};
        if (!exists) return {shell_result::FileNotFound, nullptr};
        // The opener has no "--": a leading "-" would read as an option ("--help" even exits 0).
        if (target.front() == '-') argument = "./" + target;
    }

    SpawnSetup setup;
    if (const int rc = prepareSpawn(setup, request.workingDirectory))
        return {resultOfSpawnError(rc), nullptr};

    std::string name = fs::path(program_).filename().string();
    if (name.empty()) name = program_;
    char* const argv[] = {name.data(), argument.data(), nullptr};
    pid_t pid = -1;
    if (const int rc = posix_spawnp(&pid, program_.c_str(), &setup.actions, &setup.attributes, argv,
                                    environ)) {
        return {resultOfSpawnError(rc), nullptr};
    }

    auto child = std::make_unique<ChildProcess>(pid);
    const int32_t code =
        child->waitFor(exitGrace_) ? resultOfExitStatus(child->status()) : shell_result::Started;
    if (code <= shell_result::LastFailure) return {code, nullptr};
    return {code, std::move(child)};
}

}  // namespace ovk
