// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace ovk {

/// The one error type of the component: a number that hosts rely on (5 invalid argument, 9 out
/// of range, 53 file not found, 91 object missing, 457 duplicate key, 5000 and up for the
/// service connection, ...), a description and where it came from.
struct Error : std::exception {
    /// The error number.
    int32_t number = 0;
    /// What went wrong, for a person.
    std::string description;
    /// Where it happened, when known.
    std::string source;

    /// An error numbered 0 with no text.
    Error() = default;
    /// An error with its number, its description and, when known, where it happened.
    Error(int32_t errorNumber, std::string errorDescription, std::string errorSource = {})
        : number(errorNumber),
          description(std::move(errorDescription)),
          source(std::move(errorSource)) {}

    /// The description.
    const char* what() const noexcept override { return description.c_str(); }
};

}  // namespace ovk
