// SPDX-License-Identifier: MIT
#include "platform/numbers.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/errors.hpp"

namespace ovk::numbers {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

template <class Int>
Int toWhole(double value) {
    const double rounded = roundHalfEven(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        throw Error(err::Overflow, "Overflow");
    }
    return static_cast<Int>(rounded);
}

template <class Int>
Int textToWhole(std::string_view text) {
    const auto value = parseNumber(text);
    if (!value) throw Error(err::TypeMismatch, "Type mismatch");
    return toWhole<Int>(*value);
}

}  // namespace

std::optional<double> parseNumber(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    const std::string_view core = text.substr(begin, end - begin);

    // Check the shape ourselves: strtod alone would also take "0x1A", "inf" and "nan".
    std::size_t i = 0;
    if (i < core.size() && (core[i] == '+' || core[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i]))) ++i, ++digits;
    if (i < core.size() && core[i] == '.') {
        ++i;
        while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i]))) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < core.size() && (core[i] == 'e' || core[i] == 'E')) {
        ++i;
        if (i < core.size() && (core[i] == '+' || core[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < core.size() && std::isdigit(static_cast<unsigned char>(core[i])))
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != core.size()) return std::nullopt;

    const std::string copy(core);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

double roundHalfEven(double value) {
    return std::nearbyint(value);
}  // FE_TONEAREST is ties-to-even

int16_t toInt16(std::string_view text) {
    return textToWhole<int16_t>(text);
}
int32_t toInt32(std::string_view text) {
    return textToWhole<int32_t>(text);
}
int32_t toInt32(double value) {
    return toWhole<int32_t>(value);
}

}  // namespace ovk::numbers
