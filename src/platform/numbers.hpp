// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ovk::numbers {

// The component's numeric test: surrounding blanks, an optional sign, decimal digits with an
// optional fraction and an optional exponent. No hexadecimal, no infinities, no NaN.
std::optional<double> parseNumber(std::string_view text);

// Rounds to the nearest whole number, halves to the even neighbour (0.5 -> 0, 1.5 -> 2).
double roundHalfEven(double value);

// Text to a whole number of the given width, for the numbers in the download document, the
// resource files and the service's replies; they keep their meaning from release to release:
// rounded half to even; Error 13 (type mismatch) when the text is not a number, Error 6
// (overflow) when the value does not fit.
int16_t toInt16(std::string_view text);
int32_t toInt32(std::string_view text);
// The same for a value that is already a number.
int32_t toInt32(double value);

}  // namespace ovk::numbers
