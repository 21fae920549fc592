// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform_info.hpp"
#include "platform/shell.hpp"

namespace ovk::test {

// A shell that opens nothing: it records every request and answers with queued result codes
// (success, 42, once the queue is empty). A successful open hands out a process that "ends"
// after a set number of checks, running the caller's wait callback between them.
class FakeShell : public Shell {
  public:
    void queueResult(int32_t code) { results_.push_back(code); }
    // How many checks of a waited-for process find it still running.
    void setChecksUntilExit(int checks) { checksUntilExit_ = checks; }

    const std::vector<ShellRequest>& calls() const { return calls_; }
    int waits() const { return waits_; }
    int waitCallbacks() const { return waitCallbacks_; }

    ShellResult open(const ShellRequest& request) override {
        calls_.push_back(request);
        int32_t code = shell_result::Started;
        if (!results_.empty()) {
            code = results_.front();
            results_.pop_front();
        }
        ShellResult result;
        result.code = code;
        if (result.succeeded()) result.process = std::make_unique<Process>(*this, nextPid_++);
        return result;
    }

  private:
    class Process : public StartedProcess {
      public:
        Process(FakeShell& shell, pid_t pid) : shell_(shell), pid_(pid) {}
        pid_t processId() const override { return pid_; }
        void waitForExit(const std::function<void()>& whileWaiting) override {
            ++shell_.waits_;
            for (int i = 0; i < shell_.checksUntilExit_; ++i) {
                ++shell_.waitCallbacks_;
                if (whileWaiting) whileWaiting();
            }
        }

      private:
        FakeShell& shell_;
        pid_t pid_;
    };

    std::deque<int32_t> results_;
    std::vector<ShellRequest> calls_;
    int checksUntilExit_ = 3;
    int waits_ = 0;
    int waitCallbacks_ = 0;
    pid_t nextPid_ = 4242;
};

// Reports whatever version a test sets; by default one on which waiting is supported.
class FakePlatformInfo : public PlatformInfo {
  public:
    FakePlatformInfo() = default;
    FakePlatformInfo(int32_t majorVersion, int32_t platformId)
        : version_{majorVersion, platformId} {}

    void set(int32_t majorVersion, int32_t platformId) { version_ = {majorVersion, platformId}; }
    OsVersion osVersion() const override { return version_; }

  private:
    OsVersion version_{kWaitCapableMajorVersion, platform_id::Win32Nt};
};

}  // namespace ovk::test
