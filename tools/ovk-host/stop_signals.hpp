// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <mutex>

#include "ovk/client.hpp"

namespace ovk::host {

// SIGINT (Ctrl+C) and SIGTERM while a download may run ask it to stop after the article being
// fetched, as the wizard's Stop does: the document keeps what was saved, and `run --continue`
// picks it up. The program then ends with 128 + the signal's number (130, 143), as shells
// expect of a program a signal ended. At any other time, or at a second signal, the program
// ends at once with that status: the download document is safe from a kill at any moment.
//
// The signals are taken by a thread of their own (sigwait), so the download is asked to stop
// from there and nothing runs inside a signal handler.
class StopSignals {
  public:
    // Blocks the two signals for this thread and every thread it starts later: make it first
    // thing in main, before any other thread exists.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // While `client` is set, a signal asks it to stop; nullptr: a signal ends the program. Once
    // this returns, the client is no longer touched.
    void downloading(Client* client);
    // The signal that asked the download to stop, or 0.
    int received() const { return received_.load(); }

  private:
    void watch();

    std::mutex mutex_;  // held while the client is asked, so that it cannot go meanwhile
    Client* client_ = nullptr;
    std::atomic<int> received_{0};
};

}  // namespace ovk::host
