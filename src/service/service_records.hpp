// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "xml/node.hpp"

namespace ovk {

// An exception record of the service: an element named EXCEPTION in any case, with the
// attributes ID, Description and Source.
struct ServiceException {
    int32_t number = 0;
    std::string description;
    std::string source;
};

bool isExceptionRecord(const xml::Node& node);
// Throws Error 13 when ID is missing or not a whole number that fits.
ServiceException readExceptionRecord(const xml::Node& node);

}  // namespace ovk
