// SPDX-License-Identifier: MIT
#include "qt/qt_timer_factory.hpp"

#include <QTimer>
#include <algorithm>

#include "qt/qt_application.hpp"
#include "qt/service_wait.hpp"

namespace ovk {
namespace {

class QtTimer : public Timer {
  public:
    explicit QtTimer(const std::shared_ptr<const std::function<void()>>& afterTick) {
        // A tick while a service call waits would run a handler inside the one that waits;
        // the timer ticks again after its interval.
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, afterTick] {
            if (waitingForService()) return;
            fire();
            if (*afterTick) (*afterTick)();
        });
    }
    void setInterval(int32_t milliseconds) override {
        timer_.setInterval(std::max<int32_t>(milliseconds, 0));
    }
    int32_t interval() const override { return timer_.interval(); }
    void start() override {
        // A timer ticks only inside an event loop, which needs the application object.
        ensureApplication();
        timer_.start();
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
};

}  // namespace

QtTimerFactory::QtTimerFactory(std::function<void()> afterTick)
    : afterTick_(std::make_shared<const std::function<void()>>(std::move(afterTick))) {}

std::unique_ptr<Timer> QtTimerFactory::createTimer() {
    return std::make_unique<QtTimer>(afterTick_);
}

}  // namespace ovk
