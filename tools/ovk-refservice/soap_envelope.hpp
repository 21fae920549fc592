// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "operations.hpp"
#include "reply_body.hpp"

namespace ovk::refservice {

inline constexpr std::string_view kServiceNamespace = "urn:velmora:masterdata";

// A request that is not a request of this service; answered with a SOAP fault whose code is
// `code` ("Client" for the sender's mistakes, "VersionMismatch" for a SOAP 1.2 envelope).
struct RequestFault : std::runtime_error {
    std::string code;
    RequestFault(std::string code, const std::string& message)
        : std::runtime_error(message), code(std::move(code)) {}
};

// Reads a SOAP 1.1 request: the operation is the local name of the Body's first element (the
// SOAPAction header may name it too, but must not name a different one); the arguments are
// that element's children, found by local name. Throws RequestFault.
Call parseRequest(std::string_view body, std::string_view soapAction);

// The response envelope around a Result element's content.
ReplyBody responseEnvelope(Operation op, const ReplyBody& resultContent);

// A SOAP 1.1 fault envelope. `actor` may be empty.
std::string faultEnvelope(std::string_view code, std::string_view message, std::string_view actor);

}  // namespace ovk::refservice
