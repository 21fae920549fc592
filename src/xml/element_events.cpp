// SPDX-License-Identifier: MIT
#include "xml/element_events.hpp"

#include <libxml/tree.h>

#include <string>
#include <vector>

namespace ovk::xml {

namespace {

bool isBlank(const xmlNode* node) {
    return node->type == XML_TEXT_NODE && xmlIsBlankNode(const_cast<xmlNode*>(node)) != 0;
}

class Walker {
  public:
    explicit Walker(ElementEvents& events) : events_(events) {}

    // Iterative, so that a deep reply cannot exhaust the stack.
    void walk(xmlNode* top) {
        int depth = 1;
        xmlNode* node = top;
        while (node != nullptr) {
            bool descend = false;
            if (node->type == XML_ELEMENT_NODE) {
                report(node, depth);
                descend = node->children != nullptr;
                if (!descend) events_.endElement(depth);
            } else if (!isBlank(node)) {
                events_.otherNode(depth);
            }
            if (descend) {
                node = node->children;
                ++depth;
                continue;
            }
            while (node != top && node->next == nullptr) {
                node = node->parent;
                --depth;
                events_.endElement(depth);
            }
            node = node == top ? nullptr : node->next;
        }
    }

  private:
    void report(xmlNode* element, int depth) {
        names_.clear();
        values_.clear();
        for (xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            std::string name = reinterpret_cast<const char*>(a->name);
            if (a->ns != nullptr && a->ns->prefix != nullptr)
                name.insert(0, reinterpret_cast<const char*>(a->ns->prefix) + std::string(":"));
            names_.push_back(std::move(name));
            xmlChar* value = xmlNodeListGetString(a->doc, a->children, 1);
            values_.emplace_back(value != nullptr ? reinterpret_cast<const char*>(value) : "");
            xmlFree(value);
        }
        attributes_.clear();
        for (std::size_t i = 0; i < names_.size(); ++i)
            attributes_.push_back({names_[i], values_[i]});
        events_.startElement(depth, attributes_);
    }

    ElementEvents& events_;
    std::vector<std::string> names_;
    std::vector<std::string> values_;
    std::vector<AttributeView> attributes_;
};

}  // namespace

void walk(const NodeList& nodes, ElementEvents& events) {
    Walker walker(events);
    for (const Node& node : nodes) {
        if (node.raw() != nullptr) walker.walk(node.raw());
    }
}

}  // namespace ovk::xml
