// SPDX-License-Identifier: MIT
#include "stop_signals.hpp"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <thread>

namespace ovk::host {
namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Lives as long as the program: it waits for signals until the process ends.
    std::thread([this] { watch(); }).detach();
}

void StopSignals::downloading(Client* client) {
    const std::lock_guard<std::mutex> lock(mutex_);
    client_ = client;
}

void StopSignals::watch() {
    const sigset_t set = stopSignals();
    const timespec again{0, 100'000'000};
    for (;;) {
        // After the first signal, the stop is asked again now and then: a request that came
        // just before the client began its download call would otherwise be lost.
        const int signal = received_.load() == 0 ? sigwaitinfo(&set, nullptr)
                                                 : sigtimedwait(&set, nullptr, &again);
        const std::lock_guard<std::mutex> lock(mutex_);
        if (signal < 0) {
            // The pause ended (or the wait was interrupted) without a signal.
            if (received_.load() != 0 && client_ != nullptr) client_->StopDownload();
            continue;
        }
        if (client_ == nullptr || received_.load() != 0) ::_exit(128 + signal);
        received_.store(signal);
        client_->StopDownload();
    }
}

}  // namespace ovk::host
