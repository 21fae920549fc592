// SPDX-License-Identifier: MIT
#include "platform/crash_point.hpp"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>

namespace ovk::files {
namespace {

long long crashBudget() {
    static const long long budget = [] {
        const char* text = std::getenv("OVK_CRASH_AFTER_BYTES");
        return text == nullptr || *text == '\0' ? -1LL : std::atoll(text);
    }();
    return budget;
}

}  // namespace

std::size_t bytesBeforeCrash(std::size_t wanted) {
    // Checkpoints are written on a thread of their own.
    static std::atomic<long long> written = 0;
    const long long budget = crashBudget();
    if (budget < 0) return wanted;
    long long before = written.load();
    std::size_t allowed = 0;
    do {
        const long long left = budget - before;
        if (left <= 0) ::raise(SIGKILL);
        allowed = std::min<std::size_t>(wanted, static_cast<std::size_t>(left));
    } while (!written.compare_exchange_weak(before, before + static_cast<long long>(allowed)));
    return allowed;
}

}  // namespace ovk::files
