// SPDX-License-Identifier: MIT
#include "support/ref_service.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ovk::test {
namespace {

constexpr std::string_view kPrefix = "listening on ";

// Waits for the child to end for up to `limit`; true when it has.
bool waitFor(pid_t pid, int& status, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

RefService::RefService(std::vector<std::string> extraArgs) {
    bool ownCatalog = false;
    for (const auto& arg : extraArgs) ownCatalog = ownCatalog || arg == "--catalog";
    std::vector<std::string> args;
    if (!ownCatalog) args = {"--catalog", std::string(OVK_EXAMPLES_DIR) + "/catalog"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    start(std::move(args));
}

RefService::RefService(const std::filesystem::path& catalog, std::vector<std::string> extraArgs) {
    std::vector<std::string> args{"--catalog", catalog.string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    start(std::move(args));
}

void RefService::start(std::vector<std::string> args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("ovk-refservice: cannot create a pipe");

    std::vector<std::string> argv{OVK_REFSERVICE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    // Should this test process die without running destructors, the service notices and stops.
    argv.push_back("--parent-pid");
    argv.push_back(std::to_string(getpid()));
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // The test runner may block or ignore signals; the service must start with defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int spawned = posix_spawn(&pid_, raw[0], &actions, &attributes, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    output_ = fds[0];
    if (spawned != 0) {
        close(output_);
        output_ = -1;
        pid_ = -1;
        throw std::runtime_error(std::string("ovk-refservice: cannot start ") + OVK_REFSERVICE_BIN);
    }

    // The first line names the address; a service that dies or stays silent is stopped here,
    // because no destructor runs for an object whose constructor throws.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{output_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    const auto end = line.find('\n');
    if (end == std::string::npos || line.compare(0, kPrefix.size(), kPrefix) != 0) {
        stop();
        close(output_);
        output_ = -1;
        throw std::runtime_error("ovk-refservice did not come up; its first line was \"" + line +
                                 "\"");
    }
    url_ = line.substr(kPrefix.size(), end - kPrefix.size());
    const auto colon = url_.rfind(':');
    port_ = std::stoi(url_.substr(colon + 1));
}

int RefService::stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    if (!waitFor(pid_, status_, std::chrono::seconds(20))) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    return status_;
}

std::string RefService::stopAndReadOutput() {
    stop();
    std::string text;
    if (output_ < 0) return text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(output_, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

RefService::~RefService() {
    stop();
    if (output_ >= 0) close(output_);
}

}  // namespace ovk::test
