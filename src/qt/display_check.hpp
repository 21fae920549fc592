// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace ovk {

// Why Qt could not open a window in this process, or nothing when it can. Qt itself aborts the
// whole process when its platform plugin finds no display; asking first lets the component
// report the failure to its host instead. Looks at QT_QPA_PLATFORM, DISPLAY (and whether that
// X server answers) and WAYLAND_DISPLAY.
std::optional<std::string> missingDisplay();

}  // namespace ovk
