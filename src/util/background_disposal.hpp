#pragma once

#include <future>
#include <memory>
#include <utility>

namespace ovk {

// Frees large structures (a list of a hundred thousand rows, each with a dozen strings) on a
// thread of their own, so that the thread that lets go of them goes on at once: freeing such
// a list costs a tenth of a second that a window would otherwise stand still for. One disposal
// runs at a time; the next one, and the destructor, wait for it, so nothing outlives its owner.
class BackgroundDisposal {
  public:
    BackgroundDisposal() = default;
    BackgroundDisposal(const BackgroundDisposal&) = delete;
    BackgroundDisposal& operator=(const BackgroundDisposal&) = delete;
    ~BackgroundDisposal() { wait(); }

    template <class T>
    void dispose(T&& value) {
        wait();
        auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
        try {
            pending_ = std::async(std::launch::async,
                                  [held = std::move(held)]() mutable { held.reset(); });
        } catch (...) {
            // No thread to be had: the value goes here, as it would have without us.
        }
    }

  private:
    void wait() {
        if (pending_.valid()) pending_.wait();
    }
    std::future<void> pending_;
};

}  // namespace ovk
