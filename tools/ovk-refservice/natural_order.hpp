// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace ovk::refservice {

// Orders texts as people read them: runs of digits by their number ("2 kW" before "10 kW"),
// letters without regard to ASCII case; texts that still tie are ordered by their bytes, so
// two different texts never compare equal.
bool naturalLess(std::string_view a, std::string_view b);

}  // namespace ovk::refservice
