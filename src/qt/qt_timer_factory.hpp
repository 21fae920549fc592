#pragma once

#include <memory>

#include "platform/timer.hpp"

namespace ovk {

// Timers that tick on the Qt event loop of the user-interface thread.
class QtTimerFactory : public TimerFactory {
  public:
    std::unique_ptr<Timer> createTimer() override;
};

}  // namespace ovk
