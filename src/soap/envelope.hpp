// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "soap/service_client.hpp"
#include "soap/service_description.hpp"

namespace ovk::soap {

inline constexpr std::string_view kSoapEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";

// The SOAP 1.1 request for one call: arguments in the order of the operation's parameters,
// each written in its XML Schema lexical form and escaped. Throws Error(err::SoapBadCall) when
// the operation cannot be called with these arguments (wrong count, a text XML cannot carry).
std::string buildRequestEnvelope(const OperationInfo& operation, const std::vector<Argument>& args);

// An argument in XML Schema lexical form: xs:short/xs:int in decimal, xs:double as the shortest
// text that reads back to the same value ("INF", "-INF", "NaN" for the special values),
// xs:boolean as "true"/"false", a text unchanged.
std::string lexicalForm(const Argument& arg);

// Appends `text` escaped for element content or a double-quoted attribute value. Carriage
// returns and tabs are written as character references so that they survive the parser's
// line-end and attribute normalisation. Throws Error(err::SoapBadCall) for text that is not
// UTF-8 or holds a character XML 1.0 cannot represent.
void appendEscaped(std::string& out, std::string_view text);

}  // namespace ovk::soap
