// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <utility>
#include <vector>

namespace ovk {

// Frees large structures (a list of a hundred thousand rows, a tree of a million nodes) on a
// thread of their own, so that the thread that lets go of them goes on at once: freeing such a
// structure costs a tenth of a second or more that a window would otherwise stand still for.
// The destructor waits for every disposal still running, so nothing outlives its owner.
class BackgroundDisposal {
  public:
    BackgroundDisposal() = default;
    BackgroundDisposal(const BackgroundDisposal&) = delete;
    BackgroundDisposal& operator=(const BackgroundDisposal&) = delete;
    ~BackgroundDisposal() {
        for (std::future<void>& disposal : pending_) disposal.wait();
    }

    template <class T>
    void dispose(T&& value) {
        std::erase_if(pending_, [](const std::future<void>& disposal) {
            return disposal.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
        try {
            pending_.push_back(std::async(std::launch::async,
                                          [held = std::move(held)]() mutable { held.reset(); }));
        } catch (...) {
            // No thread to be had: the value goes here, as it would have without us.
        }
    }

  private:
    std::vector<std::future<void>> pending_;
};

}  // namespace ovk
