// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include "modal_helpers.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_timer_factory.hpp"

namespace ovk {
namespace {

TEST(QtTimerFactory, ATimerTicksOnTheEventLoopUntilStopped) {
    ensureApplication();
    QtTimerFactory factory;
    const auto timer = factory.createTimer();
    timer->setInterval(1);
    EXPECT_EQ(timer->interval(), 1);
    EXPECT_FALSE(timer->isActive());

    QEventLoop loop;
    int ticks = 0;
    timer->onTick([&] {
        if (++ticks == 3) {
            timer->stop();
            loop.quit();
        }
    });
    timer->start();
    EXPECT_TRUE(timer->isActive());
    // Only a guard against a timer that never ticks; the assertion is on the tick count.
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();

    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isActive());
    // A stopped timer stays silent while events run.
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 3);
}

TEST(QtTimerFactory, TimersAreIndependent) {
    ensureApplication();
    QtTimerFactory factory;
    const auto first = factory.createTimer();
    const auto second = factory.createTimer();
    first->setInterval(1);
    second->setInterval(1);
    first->start();
    EXPECT_TRUE(first->isActive());
    EXPECT_FALSE(second->isActive());
    first->stop();
}

}  // namespace
}  // namespace ovk
