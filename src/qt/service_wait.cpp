// SPDX-License-Identifier: MIT
#include "qt/service_wait.hpp"

#include <QCoreApplication>
#include <QEventLoop>

namespace ovk {
namespace {

int& waitDepth() {
    static int depth = 0;
    return depth;
}

}  // namespace

void letWindowsPaintWhileWaiting() {
    // Without an application object there is no window to paint.
    if (QCoreApplication::instance() == nullptr) return;
    ++waitDepth();
    struct Leave {
        ~Leave() { --waitDepth(); }
    } const leave;
    try {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        // Widgets post their repaints at low priority, and a wait that runs inside a queued
        // call (the splash's activation is one) does not always get them delivered by the
        // pass above: unless some other event happens to be posted, the window stays as it was
        // first painted.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    } catch (...) {
        // Nothing may unwind into libcurl, which called us; a failing event handler is not the
        // service call's failure.
    }
}

bool waitingForService() {
    return waitDepth() > 0;
}

}  // namespace ovk
