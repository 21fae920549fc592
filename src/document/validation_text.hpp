// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ovk {

// The one detail text of the whole component (not of one Client object): the last failed schema
// validation or service connection. It starts empty and is never cleared.
const std::string& validationText();
void setValidationText(std::string text);

}  // namespace ovk
