// SPDX-License-Identifier: MIT
#include "soap/reply_envelope.hpp"

#include <libxml/tree.h>

#include <string_view>

#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "soap/envelope.hpp"

namespace ovk::soap {

namespace {

constexpr std::string_view kSoapEncodingNs = "http://schemas.xmlsoap.org/soap/encoding/";

std::string_view namespaceOf(const xmlNode* node) {
    if (node->ns == nullptr || node->ns->href == nullptr) return {};
    return reinterpret_cast<const char*>(node->ns->href);
}

bool hasLocalName(const xmlNode* node, std::string_view name) {
    return reinterpret_cast<const char*>(node->name) == name;
}

bool isEnvelopeElement(const xmlNode* node, std::string_view name) {
    return node->type == XML_ELEMENT_NODE && namespaceOf(node) == kSoapEnvelopeNs &&
           hasLocalName(node, name);
}

xmlNode* firstElement(xmlNode* parent) {
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) return child;
    }
    return nullptr;
}

std::optional<std::string> attribute(const xmlNode* node, const char* name,
                                     const xmlChar* ns = nullptr) {
    xmlChar* value = ns == nullptr ? xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name))
                                   : xmlGetNsProp(node, reinterpret_cast<const xmlChar*>(name), ns);
    if (value == nullptr) return std::nullopt;
    std::string result(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return result;
}

// The text of an element and its descendants, in document order, cut to the reported length
// without first copying the whole: a fault string may be hundreds of megabytes.
std::string boundedContent(const xmlNode* element) {
    std::string text;
    const std::size_t keep = kMaxReportedText + 4;  // enough to tell "longer" from "as long"
    const xmlNode* current = element->children;
    while (current != nullptr && text.size() < keep) {
        if ((current->type == XML_TEXT_NODE || current->type == XML_CDATA_SECTION_NODE) &&
            current->content != nullptr) {
            const std::string_view piece(reinterpret_cast<const char*>(current->content));
            text.append(piece.substr(0, keep - text.size()));
        }
        if (current->type == XML_ELEMENT_NODE && current->children != nullptr) {
            current = current->children;
            continue;
        }
        while (current != nullptr && current != element && current->next == nullptr)
            current = current->parent;
        if (current == nullptr || current == element) break;
        current = current->next;
    }
    return boundedText(text);
}

// Fault children are unqualified in SOAP 1.1; some stacks qualify them anyway.
std::string faultChildText(xmlNode* fault, std::string_view name) {
    for (xmlNode* child = fault->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && hasLocalName(child, name)) {
            return boundedContent(child);
        }
    }
    return {};
}

// A SOAP-encoded multi-reference: <return href="#id1"/> with the value in a sibling body
// entry carrying id="id1".
xmlNode* followReference(xmlNode* element, xmlNode* body) {
    const auto href = attribute(element, "href");
    if (!href || href->size() < 2 || (*href)[0] != '#' || element->children != nullptr)
        return element;
    const std::string id = href->substr(1);
    for (xmlNode* entry = body->children; entry != nullptr; entry = entry->next) {
        if (entry->type == XML_ELEMENT_NODE && attribute(entry, "id") == id) return entry;
    }
    throw Error(err::SoapMalformedReply, "The reply refers to a value #" + id + " it does not hold",
                "SoapClient");
}

// The first body entry that is a serialisation root: rpc/encoded replies may put independent
// multi-reference elements (root="0") beside the response.
xmlNode* firstBodyEntry(xmlNode* body) {
    const auto* encodingNs = reinterpret_cast<const xmlChar*>(kSoapEncodingNs.data());
    for (xmlNode* child = body->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (attribute(child, "root", encodingNs) == "0") continue;
        return child;
    }
    return nullptr;
}

}  // namespace

ReplyEnvelope readReplyEnvelope(const xml::Document& reply, bool wrapped) {
    xmlNode* root = reply.root().raw();
    if (root == nullptr || !isEnvelopeElement(root, "Envelope")) {
        throw Error(err::SoapMalformedReply, "The reply is not a SOAP 1.1 envelope", "SoapClient");
    }
    xmlNode* body = nullptr;
    for (xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && isEnvelopeElement(child, "Body")) {
            body = child;
            break;
        }
    }
    if (body == nullptr) {
        throw Error(err::SoapMalformedReply, "The reply envelope has no body", "SoapClient");
    }

    ReplyEnvelope result;
    xmlNode* entry = firstBodyEntry(body);
    if (entry != nullptr && isEnvelopeElement(entry, "Fault")) {
        result.fault =
            FaultTexts{faultChildText(entry, "faultcode"), faultChildText(entry, "faultstring"),
                       faultChildText(entry, "faultactor")};
        return result;
    }
    if (entry == nullptr) return result;
    xmlNode* returned = wrapped ? firstElement(followReference(entry, body)) : entry;
    if (returned != nullptr) result.returnElement = xml::Node(followReference(returned, body));
    return result;
}

}  // namespace ovk::soap
