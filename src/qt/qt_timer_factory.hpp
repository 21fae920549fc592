// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include "platform/timer.hpp"

namespace ovk {

// Timers that tick on the Qt event loop of the user-interface thread.
class QtTimerFactory : public TimerFactory {
  public:
    // `afterTick` runs after every tick of every timer made here: a tick changes a form
    // outside its window's handlers, and the window has to show that.
    explicit QtTimerFactory(std::function<void()> afterTick = {});

    std::unique_ptr<Timer> createTimer() override;

  private:
    std::shared_ptr<const std::function<void()>> afterTick_;
};

}  // namespace ovk
