// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::soap {

// How an operation's messages are laid out in the SOAP body.
enum class BindingStyle { Document, Rpc };
// Whether the body follows a schema ("literal") or the SOAP 1.1 encoding rules ("encoded").
enum class BodyUse { Literal, Encoded };

// One request parameter: the name of the element that carries the argument and the namespace
// it belongs to (empty for an unqualified element).
struct Parameter {
    std::string name;
    std::string namespaceUri;
};

// What the client needs to know to call one operation of the service.
struct OperationInfo {
    std::string name;
    std::string soapAction;
    BindingStyle style = BindingStyle::Document;
    BodyUse use = BodyUse::Literal;
    std::string encodingStyle;  // only for BodyUse::Encoded

    // The element the parameters are wrapped in: for document/literal wrapped the wrapper
    // element of the schema, for rpc the operation's name in the namespace of soap:body.
    // Empty for a document/literal operation whose parts are sent side by side ("bare").
    std::string wrapperName;
    std::string wrapperNamespace;
    // In the order the arguments are given.
    std::vector<Parameter> parameters;

    // Whether the reply's body entry is a wrapper around the return element (rpc, and
    // document/literal with one part of complex content) rather than the return element itself.
    bool responseWrapped = true;

    // Set when the description uses a construct this client cannot turn into a request (an
    // xs:choice in the wrapper, a part without element or type, ...). The other operations of
    // the same description stay usable; calling this one fails with this reason.
    std::string unsupportedReason;
};

// The parts of a WSDL 1.1 service description that a dynamic SOAP 1.1 client relies on: the
// end point of the first SOAP 1.1 port and every operation of its binding.
class ServiceDescription {
  public:
    // Reads a description file. Throws Error(err::SoapWsdl) with a reason that names the
    // problem when the file is missing, not well-formed or not a usable SOAP 1.1 description.
    static ServiceDescription load(const std::filesystem::path& path);
    // The same for a description held in memory (`name` appears in messages).
    static ServiceDescription parse(std::string_view text, const std::string& name = "memory");

    const std::string& endpoint() const { return endpoint_; }
    const std::string& targetNamespace() const { return targetNamespace_; }
    const std::string& serviceName() const { return serviceName_; }
    const std::string& portName() const { return portName_; }

    // The operation of that exact name (service operation names are case-sensitive), or
    // nothing.
    const OperationInfo* find(std::string_view operation) const;
    const std::map<std::string, OperationInfo, std::less<>>& operations() const {
        return operations_;
    }

  private:
    friend class WsdlReader;
    std::string endpoint_;
    std::string targetNamespace_;
    std::string serviceName_;
    std::string portName_;
    std::map<std::string, OperationInfo, std::less<>> operations_;
};

}  // namespace ovk::soap
