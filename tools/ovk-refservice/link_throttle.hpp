// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>

namespace ovk::refservice {

// A link of limited bandwidth that every reply shares, as the replies of one service share a
// company's line: each piece sent takes the link for its share of time, and waits until then.
class LinkThrottle {
  public:
    // 0: no limit.
    explicit LinkThrottle(unsigned kilobitsPerSecond = 0) : kilobitsPerSecond_(kilobitsPerSecond) {}

    bool limited() const { return kilobitsPerSecond_ != 0; }
    // Waits until `bytes` more can have passed the link.
    void pass(std::size_t bytes);
    // Pieces small enough that the link is shared fairly between replies.
    static constexpr std::size_t kPiece = 8 * 1024;

  private:
    using Clock = std::chrono::steady_clock;
    unsigned kilobitsPerSecond_;
    std::mutex mutex_;
    Clock::time_point freeAt_{};
};

}  // namespace ovk::refservice
