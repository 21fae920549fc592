// SPDX-License-Identifier: MIT
#include "document/validation_text.hpp"

#include "platform/text.hpp"

namespace ovk {
namespace {
std::string& storage() {
    static std::string text;
    return text;
}
}  // namespace

const std::string& validationText() {
    return storage();
}
void setValidationText(std::string text) {
    // It holds parser and service texts (a source line, a fault string) that hosts show.
    storage() = text.size() > kMaxReportedText ? boundedText(text) : std::move(text);
}

}  // namespace ovk
