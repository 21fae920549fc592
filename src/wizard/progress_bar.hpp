// SPDX-License-Identifier: MIT
#pragma once

#include "platform/controls.hpp"

namespace ovk {

// A progress bar: a value between Min and Max.
struct ProgressBar : Control {
    double Min = 0;
    double Max = 100;
    double Value = 0;
};

}  // namespace ovk
