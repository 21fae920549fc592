#include "document/validation_text.hpp"

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
    storage() = std::move(text);
}

}  // namespace ovk
