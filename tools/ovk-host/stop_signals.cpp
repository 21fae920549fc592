#include "stop_signals.hpp"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
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

void StopSignals::watch() {
    const sigset_t set = stopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        Client* client = client_.load();
        if (client == nullptr || received_.load() != 0) ::_exit(128 + signal);
        received_.store(signal);
        client->StopDownload();
    }
}

}  // namespace ovk::host
