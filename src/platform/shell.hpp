// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ovk {

class Form;

// Result codes of the shell's open action, with the values hosts check after opening a file:
// anything above LastFailure means the target was handed over, 0 to LastFailure say why it was not.
namespace shell_result {
inline constexpr int32_t OutOfResources = 0;  // the program could not be started at all
inline constexpr int32_t FileNotFound = 2;    // no target, or a local file that does not exist
inline constexpr int32_t PathNotFound = 3;    // the working folder does not exist
inline constexpr int32_t AccessDenied = 5;    // the opener refused or failed for another reason
inline constexpr int32_t NoAssociation = 31;  // no program is registered for the target
inline constexpr int32_t LastFailure = 32;
inline constexpr int32_t Started = 42;
}  // namespace shell_result

// A program the shell started. It can be waited for; a handle that is dropped without waiting
// still makes sure the process does not linger as a zombie.
class StartedProcess {
  public:
    virtual ~StartedProcess() = default;

    virtual pid_t processId() const = 0;
    // Returns once the process has ended. `whileWaiting` runs between checks of the process so
    // the caller's user interface stays responsive; the wait does not spin.
    virtual void waitForExit(const std::function<void()>& whileWaiting) = 0;
};

struct ShellRequest {
    std::string target;  // a file or an address, handed over as exactly one argument
    // The folder a relative target is found in and the program runs in; none: the current one.
    std::optional<std::filesystem::path> workingDirectory;
    int16_t showCommand = 1;
    const Form* owner = nullptr;
};

struct ShellResult {
    int32_t code = shell_result::OutOfResources;
    // Set when the target was handed over: the process that was started for it.
    std::unique_ptr<StartedProcess> process;

    bool succeeded() const { return code > shell_result::LastFailure; }
};

// Opens a file or an address with the program the desktop has registered for it.
class Shell {
  public:
    virtual ~Shell() = default;
    virtual ShellResult open(const ShellRequest& request) = 0;
};

// The desktop's opener, `xdg-open`, started directly with the target as its only argument: no
// command line is ever built, so nothing in a target can run as a command.
//
// xdg-open reports failure only through its exit status, and it may keep running for as long
// as the program it started (it does so when no desktop launcher is available). So the adapter
// waits up to `exitGrace` for the opener's own exit: an exit within that time decides the
// result, a program still running after it counts as started.
//
// Exit statuses: 0 started (42); 2 file missing (2); 3 no opener tool and 4 opening failed
// (both 31, no association); anything else, including death by a signal, 5. Spawn failures:
// opener not installed 31, not executable 5, out of processes or memory 0.
class XdgOpenShell final : public Shell {
  public:
    explicit XdgOpenShell(std::string program = "xdg-open",
                          std::chrono::milliseconds exitGrace = std::chrono::seconds(2));

    ShellResult open(const ShellRequest& request) override;

  private:
    std::string program_;
    std::chrono::milliseconds exitGrace_;
};

}  // namespace ovk
