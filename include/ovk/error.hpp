#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace ovk {

/// The one error type of the component: a number a host of the original component already
/// knows (5 invalid argument, 9 out of range, 53 file not found, 457 duplicate key, 5000 and up
/// for the service connection, ...), a description and where it came from.
struct Error : std::exception {
    /// The error number.
    int32_t number = 0;
    /// What went wrong, for a person.
    std::string description;
    /// Where it happened, when known.
    std::string source;

    Error() = default;
    Error(int32_t number, std::string description, std::string source = {})
        : number(number), description(std::move(description)), source(std::move(source)) {}

    /// The description.
    const char* what() const noexcept override { return description.c_str(); }
};

}  // namespace ovk
