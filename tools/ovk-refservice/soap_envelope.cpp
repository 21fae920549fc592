// SPDX-License-Identifier: MIT
#include "soap_envelope.hpp"

#include <libxml/tree.h>

#include "platform/errors.hpp"
#include "xml/document.hpp"
#include "xml_text.hpp"

namespace ovk::refservice {
namespace {

constexpr std::string_view kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr std::string_view kSoap12 = "http://www.w3.org/2003/05/soap-envelope";

std::string_view namespaceOf(const xml::Node& node) {
    const xmlNode* raw = node.raw();
    if (raw == nullptr || raw->ns == nullptr || raw->ns->href == nullptr) return {};
    return reinterpret_cast<const char*>(raw->ns->href);
}

// Toolkits differ in whether they qualify the wrapper and its children; both forms are
// taken, anything in a foreign namespace is not ours.
bool ours(const xml::Node& node) {
    const std::string_view ns = namespaceOf(node);
    return ns.empty() || ns == kServiceNamespace;
}

// "urn:velmora:masterdata/GetItemData", possibly quoted, gives GetItemData.
std::string_view actionOperation(std::string_view action) {
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"')
        action = action.substr(1, action.size() - 2);
    const auto cut = action.find_last_of("/#");
    return cut == std::string_view::npos ? action : action.substr(cut + 1);
}

}  // namespace

Call parseRequest(std::string_view body, std::string_view soapAction) {
    xml::Document document;
    try {
        document = xml::Document::loadMemory(body, xml::Source::ServiceReply, "request");
    } catch (const Error& e) {
        throw RequestFault("Client", "The request is not well-formed XML: " + e.description);
    }

    const xml::Node envelope = document.root();
    if (!envelope || envelope.localName() != "Envelope")
        throw RequestFault("Client", "The request is not a SOAP envelope");
    if (namespaceOf(envelope) == kSoap12)
        throw RequestFault("VersionMismatch", "Only SOAP 1.1 envelopes are understood");
    if (namespaceOf(envelope) != kSoap11)
        throw RequestFault("VersionMismatch", "The envelope is not in the SOAP 1.1 namespace");

    xml::Node soapBody;
    for (const xml::Node& child : envelope.childElements()) {
        if (child.localName() == "Body" && namespaceOf(child) == kSoap11) {
            soapBody = child;
            break;
        }
    }
    if (!soapBody) throw RequestFault("Client", "The envelope has no Body");
    const auto elements = soapBody.childElements();
    if (elements.empty()) throw RequestFault("Client", "The Body names no operation");
    const xml::Node wrapper = elements.front();

    const auto op = ours(wrapper) ? operationNamed(wrapper.localName()) : std::nullopt;
    if (!op) throw RequestFault("Client", "Unknown operation " + wrapper.localName());
    const auto named = operationNamed(actionOperation(soapAction));
    if (named && *named != *op)
        throw RequestFault("Client", "The SOAPAction names " + std::string(operationName(*named)) +
                                         " but the Body holds " + wrapper.localName());

    Call call{*op, {}};
    const auto arguments = wrapper.childElements();
    for (const Parameter& parameter : parametersOf(*op)) {
        std::string value;
        for (const xml::Node& argument : arguments) {
            if (argument.localName() == parameter.name && ours(argument)) {
                value = argument.text();
                break;
            }
        }
        call.arguments.push_back(std::move(value));
    }
    return call;
}

ReplyBody responseEnvelope(Operation op, const ReplyBody& resultContent) {
    const std::string_view name = operationName(op);
    ReplyBody body;
    std::string& head = body.text();
    head +=
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<soap:Body><tns:";
    head += name;
    head += "Response xmlns:tns=\"";
    head += kServiceNamespace;
    head += "\"><tns:";
    head += name;
    head += "Result>";
    body.append(resultContent);
    std::string& tail = body.text();
    tail += "</tns:";
    tail += name;
    tail += "Result></tns:";
    tail += name;
    tail += "Response></soap:Body></soap:Envelope>";
    return body;
}

std::string faultEnvelope(std::string_view code, std::string_view message, std::string_view actor) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<soap:Body><soap:Fault><faultcode>soap:";
    out += code;
    out += "</faultcode>";
    appendTextElement(out, "faultstring", message);
    if (!actor.empty()) appendTextElement(out, "faultactor", actor);
    out += "</soap:Fault></soap:Body></soap:Envelope>";
    return out;
}

}  // namespace ovk::refservice
