// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/timer.hpp"

namespace ovk {

// Timers driven by hand: time passes only when advance() is called. For tests and for batch
// runs, where nothing waits for a real clock.
class ManualClock : public TimerFactory {
  public:
    std::unique_ptr<Timer> createTimer() override {
        auto timer = std::make_unique<ManualTimer>(*this);
        timers_.push_back(timer.get());
        return timer;
    }

    // Lets `milliseconds` pass; every timer whose interval ends on the way ticks, in time order.
    void advance(int64_t milliseconds) {
        const int64_t until = now_ + milliseconds;
        for (;;) {
            ManualTimer* next = nullptr;
            for (ManualTimer* t : timers_) {
                if (t->active_ && t->due_ <= until && (next == nullptr || t->due_ < next->due_))
                    next = t;
            }
            if (next == nullptr) break;
            now_ = next->due_;
            next->due_ = now_ + std::max<int32_t>(next->interval_, 1);
            next->tick();
        }
        now_ = until;
    }
    int64_t now() const { return now_; }

  private:
    class ManualTimer : public Timer {
      public:
        explicit ManualTimer(ManualClock& clock) : clock_(clock) {}
        ~ManualTimer() override { std::erase(clock_.timers_, this); }
        void setInterval(int32_t milliseconds) override { interval_ = milliseconds; }
        int32_t interval() const override { return interval_; }
        void start() override {
            active_ = true;
            due_ = clock_.now_ + std::max<int32_t>(interval_, 1);
        }
        void stop() override { active_ = false; }
        bool isActive() const override { return active_; }
        void tick() { fire(); }

        ManualClock& clock_;
        int32_t interval_ = 0;
        bool active_ = false;
        int64_t due_ = 0;
    };

    int64_t now_ = 0;
    std::vector<ManualTimer*> timers_;
};

}  // namespace ovk
