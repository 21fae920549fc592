// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/errors.hpp"
#include "xml/document.hpp"

// Reading the service's replies the way the wizard's steps do: the first node of a reply and
// attributes by position or by name. What a reply lacks fails as a missing object (91), so a
// step's trap reports it like any other failure.
namespace ovk::reply {

inline xml::Node firstNode(const xml::NodeList& nodes) {
    if (nodes.empty())
        throw Error(err::ObjectMissing, "Object variable or With block variable not set");
    return nodes.first();
}

inline std::string attributeAt(const xml::Node& node, std::size_t position) {
    auto value = node.attributeAt(position);
    if (!value) throw Error(err::ObjectMissing, "Object variable or With block variable not set");
    return std::move(*value);
}

inline std::string attribute(const xml::Node& node, std::string_view name) {
    auto value = node.attribute(name);
    if (!value) throw Error(err::ObjectMissing, "Object variable or With block variable not set");
    return std::move(*value);
}

}  // namespace ovk::reply
