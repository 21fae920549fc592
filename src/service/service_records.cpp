// SPDX-License-Identifier: MIT
#include "service/service_records.hpp"

#include "platform/errors.hpp"
#include "platform/numbers.hpp"
#include "platform/text.hpp"

namespace ovk {

bool isExceptionRecord(const xml::Node& node) {
    return node.isElement() && asciiUpper(node.localName()) == "EXCEPTION";
}

ServiceException readExceptionRecord(const xml::Node& node) {
    const std::optional<std::string> id = node.attribute("ID");
    if (!id) throw Error(err::TypeMismatch, "The service's exception record has no ID");
    return ServiceException{numbers::toInt32(*id), node.attribute("Description").value_or(""),
                            node.attribute("Source").value_or("")};
}

}  // namespace ovk
