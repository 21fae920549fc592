// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string_view>

#include "xml/document.hpp"

namespace ovk::xml {

// One attribute of the element being reported: its qualified name and its value. Both views end
// with the call that hands them over.
struct AttributeView {
    std::string_view name;
    std::string_view value;
};

// Receives a part of a document one node at a time, in document order, so that a model can be
// built from a large reply without a tree of the whole reply beside it. Depths count from 1 for
// the nodes handed over at the top. White-space-only text between elements is never reported,
// as the service's own indentation carries nothing. A receiver may throw to end the reading.
class ElementEvents {
  public:
    virtual ~ElementEvents() = default;
    // An element starts; its attributes in document order.
    virtual void startElement(int depth, std::span<const AttributeView> attributes) = 0;
    // The element that started last at `depth` ends; empty elements end at once.
    virtual void endElement(int depth) = 0;
    // A node that is not an element: text, CDATA, a comment or a processing instruction.
    virtual void otherNode(int depth) = 0;
};

// Reports `nodes` and their descendants to `events`, as a reader of the same text would.
void walk(const NodeList& nodes, ElementEvents& events);

}  // namespace ovk::xml
