// SPDX-License-Identifier: MIT
#include "soap_test_client.hpp"

#include <httplib.h>

#include "base64.hpp"
#include "platform/codepage.hpp"
#include "support/ref_service.hpp"
#include "xml_text.hpp"

namespace ovk::test {
namespace {

xml::Node bodyChild(const xml::Document& document) {
    for (const auto& part : document.root().childElements())
        if (part.localName() == "Body") {
            const auto children = part.childElements();
            return children.empty() ? xml::Node() : children.front();
        }
    return {};
}

}  // namespace

std::vector<xml::Node> SoapExchange::resultElements() const {
    return result().childElements();
}

xml::Node SoapExchange::result() const {
    if (!document) return {};
    const xml::Node response = bodyChild(*document);
    const auto children = response.childElements();
    return children.empty() ? xml::Node() : children.front();
}

std::string SoapExchange::faultCode() const {
    if (!document) return {};
    for (const auto& child : bodyChild(*document).childElements())
        if (child.localName() == "faultcode") return child.text();
    return {};
}

std::string SoapExchange::faultString() const {
    if (!document) return {};
    for (const auto& child : bodyChild(*document).childElements())
        if (child.localName() == "faultstring") return child.text();
    return {};
}

std::string requestEnvelope(const std::string& operation, const Arguments& arguments) {
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:tns=\"urn:velmora:masterdata\"><soap:Body><tns:" +
        operation + ">";
    for (const auto& [name, value] : arguments) {
        body += "<tns:" + name + ">";
        refservice::appendText(body, value);
        body += "</tns:" + name + ">";
    }
    body += "</tns:" + operation + "></soap:Body></soap:Envelope>";
    return body;
}

SoapExchange postRaw(const RefService& service, const std::string& body,
                     const std::map<std::string, std::string>& headers, int timeoutSeconds) {
    httplib::Client client("127.0.0.1", service.port());
    client.set_read_timeout(timeoutSeconds, 0);
    client.set_connection_timeout(timeoutSeconds, 0);
    httplib::Headers sent;
    for (const auto& [name, value] : headers) sent.emplace(name, value);
    const auto reply = client.Post("/", sent, body, "text/xml; charset=utf-8");

    SoapExchange exchange;
    if (!reply) {
        exchange.error = httplib::to_string(reply.error());
        return exchange;
    }
    exchange.status = reply->status;
    exchange.body = reply->body;
    try {
        exchange.document = std::make_shared<xml::Document>(
            xml::Document::loadMemory(exchange.body, xml::Source::ServiceReply, "reply"));
    } catch (const std::exception&) {
        exchange.document.reset();
    }
    return exchange;
}

SoapExchange call(const RefService& service, const std::string& operation,
                  const Arguments& arguments, int timeoutSeconds) {
    return postRaw(service, requestEnvelope(operation, arguments),
                   {{"SOAPAction", "\"urn:velmora:masterdata/" + operation + "\""}},
                   timeoutSeconds);
}

Arguments projectArguments(const std::string& password, const std::string& project, int language) {
    return {{"password", password}, {"projectId", project}, {"langId", std::to_string(language)}};
}

std::pair<int, std::string> httpGet(const RefService& service, const std::string& path) {
    httplib::Client client("127.0.0.1", service.port());
    const auto reply = client.Get(path);
    if (!reply) return {0, {}};
    return {reply->status, reply->body};
}

std::string encodeNodeKey(const std::string& utf8Key) {
    std::string out;
    refservice::appendBase64(out, toAnsi(utf8Key));
    return out;
}

}  // namespace ovk::test
