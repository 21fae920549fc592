// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace ovk {

// A timer that ticks on the user-interface thread. Forms own one per timer control.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void setInterval(int32_t milliseconds) = 0;
    virtual int32_t interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    void onTick(std::function<void()> handler) { tick_ = std::move(handler); }

  protected:
    void fire() {
        if (tick_) tick_();
    }

  private:
    std::function<void()> tick_;
};

// Makes timers; the Qt adapter makes QTimer-backed ones, tests a ManualClock.
class TimerFactory {
  public:
    virtual ~TimerFactory() = default;
    virtual std::unique_ptr<Timer> createTimer() = 0;
};

}  // namespace ovk
