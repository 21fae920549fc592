// SPDX-License-Identifier: MIT
#include "link_throttle.hpp"

#include <algorithm>
#include <thread>

namespace ovk::refservice {

void LinkThrottle::pass(std::size_t bytes) {
    if (!limited()) return;
    const auto duration = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(bytes) * 8.0 / (1000.0 * kilobitsPerSecond_)));
    Clock::time_point until;
    {
        std::lock_guard lock(mutex_);
        freeAt_ = std::max(freeAt_, Clock::now()) + duration;
        until = freeAt_;
    }
    std::this_thread::sleep_until(until);
}

}  // namespace ovk::refservice
