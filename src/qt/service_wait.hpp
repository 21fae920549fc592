// SPDX-License-Identifier: MIT
#pragma once

namespace ovk {

// What the desktop does while a service call waits for its reply: the windows repaint and
// react to the window system, but nothing the component's handlers would see runs. User
// input stays queued until the call is over, the component's timers skip their ticks, and a
// window's close button is ignored, so no handler runs nested inside the one waiting.
void letWindowsPaintWhileWaiting();

// True while letWindowsPaintWhileWaiting() is processing events.
bool waitingForService();

}  // namespace ovk
