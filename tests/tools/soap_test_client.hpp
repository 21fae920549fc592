// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xml/document.hpp"

namespace ovk::test {

class RefService;

// What came back for one POST: the HTTP status and body, and, when the body is a SOAP
// envelope, the parsed document.
struct SoapExchange {
    int status = 0;     // 0 when no HTTP reply arrived
    std::string error;  // the client's reason when no complete reply arrived
    std::string body;
    std::shared_ptr<xml::Document> document;

    // The children of the operation's Result element, elements only, or of the Fault.
    std::vector<xml::Node> resultElements() const;
    xml::Node result() const;  // the Result element itself
    std::string faultCode() const;
    std::string faultString() const;
};

using Arguments = std::vector<std::pair<std::string, std::string>>;

// A request envelope for `operation` with its arguments as qualified children.
std::string requestEnvelope(const std::string& operation, const Arguments& arguments);

// POSTs a body to the service; `timeoutSeconds` bounds the wait for the reply.
SoapExchange postRaw(const RefService& service, const std::string& body,
                     const std::map<std::string, std::string>& headers = {},
                     int timeoutSeconds = 30);

// Calls an operation with its SOAPAction.
SoapExchange call(const RefService& service, const std::string& operation,
                  const Arguments& arguments = {}, int timeoutSeconds = 30);

// The three arguments every project operation starts with.
Arguments projectArguments(const std::string& password, const std::string& project, int language);

// HTTP GET of a path ("/?wsdl").
std::pair<int, std::string> httpGet(const RefService& service, const std::string& path);

// Base64 of the Windows-1252 bytes of a node key, as the wizard sends it.
std::string encodeNodeKey(const std::string& utf8Key);

}  // namespace ovk::test
