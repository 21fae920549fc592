// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "xml/document.hpp"

namespace ovk::soap {

// The three texts of a SOAP 1.1 fault.
struct FaultTexts {
    std::string code;
    std::string string;
    std::string actor;
};

// What a well-formed reply envelope says: a fault, or the element that carries the operation's
// return value (nothing when the reply has none).
struct ReplyEnvelope {
    std::optional<FaultTexts> fault;
    xml::Node returnElement;
};

// Reads a SOAP 1.1 envelope. With `wrapped`, the return element is the first child element of
// the body's entry (<Op>Response/<Op>Result, whatever their names); otherwise it is the body
// entry itself. An rpc/encoded reference (href="#id") is followed to the element it names.
// Throws Error(err::SoapMalformedReply) when the document is not a SOAP 1.1 envelope with a body.
ReplyEnvelope readReplyEnvelope(const xml::Document& reply, bool wrapped);

}  // namespace ovk::soap
