// SPDX-License-Identifier: MIT
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace ovk::test {

// One run of ovk-host in batch mode with the component's files from the source tree: its exit
// status, every JSON line it printed and what it wrote on standard error.
struct HostRun {
    int status = -1;
    std::vector<nlohmann::json> lines;
    std::string errors;
};

// The download document's settings for the example catalogue's project at `url`.
inline std::string demoSettings(const std::string& url) {
    return "<URL>" + url +
           "</URL><ProjectID>DEMO</ProjectID><Language>English</Language><Password>demo</Password>";
}

inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The host built with the crash and restart hooks (tests/host/environment_hooks.cpp), for the
// tests that stop it as a crash or a power cut would; the installed one has none.
inline constexpr const char* kHostWithTestHooks = OVK_HOST_TEST_HOOKS_BIN;

inline HostRun runHost(const std::vector<std::string>& args, bool batch = true,
                       const char* program = OVK_HOST_BIN) {
    TempDir scratch;
    std::string command = shellQuote(program);
    for (const auto& a : args) command += " " + shellQuote(a);
    if (batch) command += " --batch --component-dir " + shellQuote(OVK_DATA_DIR);
    command += " 2>" + shellQuote((scratch / "stderr").string());
    HostRun run;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[65536];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        const std::string line = buffer;
        run.lines.push_back(line.starts_with("{") ? nlohmann::json::parse(line)
                                                  : nlohmann::json(line));
    }
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.errors = readAll(scratch / "stderr");
    return run;
}

// Starts ovk-host as runHost does without waiting for it, its output thrown away: for a test
// that stops it the hard way. The process id, or -1.
inline pid_t startHost(const std::vector<std::string>& args) {
    std::vector<std::string> all{OVK_HOST_BIN};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--batch", "--component-dir", OVK_DATA_DIR});
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, OVK_HOST_BIN, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace ovk::test
