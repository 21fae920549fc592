// SPDX-License-Identifier: MIT
#include "xml/node.hpp"

#include "platform/errors.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk::xml {

using detail::take;
using detail::toString;
using detail::xmlText;

NodeKind Node::kind() const {
    if (node_ == nullptr) return NodeKind::Other;
    switch (node_->type) {
        case XML_ELEMENT_NODE:
            return NodeKind::Element;
        case XML_TEXT_NODE:
            return NodeKind::Text;
        case XML_CDATA_SECTION_NODE:
            return NodeKind::CData;
        case XML_COMMENT_NODE:
            return NodeKind::Comment;
        case XML_PI_NODE:
            return NodeKind::ProcessingInstruction;
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE:
            return NodeKind::Document;
        default:
            return NodeKind::Other;
    }
}

std::string Node::name() const {
    if (!isElement()) return {};
    if (node_->ns != nullptr && node_->ns->prefix != nullptr) {
        return toString(node_->ns->prefix) + ":" + toString(node_->name);
    }
    return toString(node_->name);
}

std::string Node::localName() const {
    return isElement() ? toString(node_->name) : std::string();
}

std::string Node::text() const {
    if (node_ == nullptr) return {};
    return take(xmlNodeGetContent(node_));
}

Node Node::firstChild() const {
    if (node_ == nullptr) return Node();
    // A document's children include its DTD node, which no caller wants to see.
    for (xmlNode* child = node_->children; child != nullptr; child = child->next) {
        if (child->type != XML_DTD_NODE) return Node(child);
    }
    return Node();
}

Node Node::nextSibling() const {
    if (node_ == nullptr) return Node();
    for (xmlNode* next = node_->next; next != nullptr; next = next->next) {
        if (next->type != XML_DTD_NODE) return Node(next);
    }
    return Node();
}

std::vector<Node> Node::children() const {
    std::vector<Node> result;
    for (Node child = firstChild(); child; child = child.nextSibling()) result.push_back(child);
    return result;
}

std::vector<Node> Node::childElements() const {
    std::vector<Node> result;
    for (Node child = firstChild(); child; child = child.nextSibling()) {
        if (child.isElement()) result.push_back(child);
    }
    return result;
}

// Namespace declarations are not attributes here (libxml2 keeps them apart); positions count
// the element's own attributes in the order they were written.
std::size_t Node::attributeCount() const {
    if (!isElement()) return 0;
    std::size_t count = 0;
    for (xmlAttr* a = node_->properties; a != nullptr; a = a->next) ++count;
    return count;
}

namespace {
xmlAttr* attributeNodeAt(xmlNode* node, std::size_t position) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return nullptr;
    xmlAttr* a = node->properties;
    for (std::size_t i = 0; a != nullptr && i < position; ++i) a = a->next;
    return a;
}
}  // namespace

std::optional<std::string> Node::attributeAt(std::size_t position) const {
    xmlAttr* a = attributeNodeAt(node_, position);
    if (a == nullptr) return std::nullopt;
    return take(xmlNodeListGetString(a->doc, a->children, 1));
}

std::optional<std::string> Node::attributeNameAt(std::size_t position) const {
    xmlAttr* a = attributeNodeAt(node_, position);
    if (a == nullptr) return std::nullopt;
    return toString(a->name);
}

std::optional<std::string> Node::attribute(std::string_view name) const {
    if (!isElement()) return std::nullopt;
    const std::string key(name);
    for (xmlAttr* a = node_->properties; a != nullptr; a = a->next) {
        std::string qualified = toString(a->name);
        if (a->ns != nullptr && a->ns->prefix != nullptr)
            qualified.insert(0, toString(a->ns->prefix) + ":");
        if (qualified == key) return take(xmlNodeListGetString(a->doc, a->children, 1));
    }
    return std::nullopt;
}

Node Node::appendChild(Node child) {
    if (node_ == nullptr || !child) throw Error(err::ObjectMissing, "Object variable not set");
    if (child.node_->doc != node_->doc) {
        throw Error(err::InvalidArgument, "The node to append belongs to another document");
    }
    xmlUnlinkNode(child.node_);
    xmlNode* added = xmlAddChild(node_, child.node_);
    if (added == nullptr) {
        xmlFreeNode(child.node_);
        throw Error(err::InvalidArgument, "The node cannot be appended here");
    }
    // libxml2 merges a text node into an adjacent one and frees it; the merged node stands in.
    return Node(added);
}

void Node::remove() {
    if (node_ == nullptr) return;
    xmlUnlinkNode(node_);
    xmlFreeNode(node_);
    node_ = nullptr;
}

long Node::line() const {
    return node_ == nullptr ? 0 : xmlGetLineNo(node_);
}

namespace {

bool isWhitespaceOnly(const xmlChar* text) {
    if (text == nullptr) return true;
    for (; *text != 0; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
    }
    return true;
}

bool hasElementChild(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) return true;
    }
    return false;
}

void dropWhitespaceChildren(xmlNode* element) {
    for (xmlNode* child = element->children; child != nullptr;) {
        xmlNode* const next = child->next;
        if (child->type == XML_TEXT_NODE && isWhitespaceOnly(child->content)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
        }
        child = next;
    }
}

// Whether xml:space keeps the white space among the children of `element`: its own
// attribute decides when it says "preserve" or "default", else its parent's setting, as
// xmlNodeGetSpacePreserve has it. That function walks up to the root for every element,
// which cost more than the rest of the walk.
bool preservesSpace(const xmlNode* element, bool parentPreserves) {
    if (element->properties == nullptr) return parentPreserves;
    const auto* xmlNamespace = reinterpret_cast<const xmlChar*>(XML_XML_NAMESPACE);
    if (xmlHasNsProp(element, BAD_CAST "space", xmlNamespace) == nullptr) return parentPreserves;
    const detail::XmlString value(xmlGetNsProp(element, BAD_CAST "space", xmlNamespace));
    if (xmlStrEqual(value.get(), BAD_CAST "preserve")) return true;
    if (xmlStrEqual(value.get(), BAD_CAST "default")) return false;
    return parentPreserves;
}

}  // namespace

void Node::dropWhitespaceText() {
    if (node_ == nullptr) return;
    // This node's children are a list, not a value: white space among them is layout.
    dropWhitespaceChildren(node_);
    // An explicit walk: a reply may nest deeper than the stack would like. Only elements with
    // element children are entered; the text of the others is their value, and stays.
    // Every element entered below keeps no white space, so only this node's setting is
    // inherited further down.
    const bool preserved = xmlNodeGetSpacePreserve(node_) == 1;
    xmlNode* current = node_->children;
    while (current != nullptr && current != node_) {
        xmlNode* next = nullptr;
        if (current->type == XML_ELEMENT_NODE && hasElementChild(current) &&
            !preservesSpace(current, current->parent == node_ && preserved)) {
            dropWhitespaceChildren(current);
            next = current->children;
        } else {
            xmlNode* up = current;
            while (up != node_ && up->next == nullptr) up = up->parent;
            next = up == node_ ? nullptr : up->next;
        }
        current = next;
    }
}

}  // namespace ovk::xml
