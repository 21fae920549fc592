// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::test {

inline std::vector<uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

inline std::string text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace ovk::test
