// SPDX-License-Identifier: MIT
#include "wizard/tree_reply_reader.hpp"

#include "platform/errors.hpp"

namespace ovk {

namespace {

const std::string_view* find(std::span<const xml::AttributeView> attributes,
                             std::string_view name) {
    for (const xml::AttributeView& attribute : attributes)
        if (attribute.name == name) return &attribute.value;
    return nullptr;
}

[[noreturn]] void missing() {
    throw Error(err::ObjectMissing, "Object variable or With block variable not set");
}

}  // namespace

TreeReplyReader::TreeReplyReader(TreeView& view, std::string image, std::string selectedImage)
    : view_(view), image_(std::move(image)), selectedImage_(std::move(selectedImage)) {}

void TreeReplyReader::placeRoot() {
    if (root_ >= 0) return;
    if (!rootId_ || !rootValue_) missing();
    root_ = view_.Add(-1, *rootId_, *rootValue_, image_, selectedImage_);
    levels_.front().node = root_;
}

void TreeReplyReader::startElement(int depth, std::span<const xml::AttributeView> attributes) {
    if (pastRoot_) return;
    if (depth == 1) {
        // Only the reply's first node stands for the tree.
        if (rootSeen_) {
            pastRoot_ = true;
            return;
        }
        rootSeen_ = true;
        if (const auto* id = find(attributes, "ID")) rootId_.emplace(*id);
        if (const auto* value = find(attributes, "Value")) rootValue_.emplace(*value);
        levels_.push_back({});
        return;
    }
    if (depth == 2) placeRoot();
    Level& parent = parentOf(depth);
    Level level;
    if (parent.node >= 0 && !parent.skipping) {
        const auto* id = find(attributes, "ID");
        const auto* value = find(attributes, "Value");
        try {
            if (id == nullptr || value == nullptr) missing();
            level.node = view_.Add(parent.node, *id, *value, image_, selectedImage_);
        } catch (const Error& e) {
            if (e.number == err::SoapReplyTooLarge) throw;
            parent.skipping = true;
        }
    }
    levels_.push_back(level);
}

void TreeReplyReader::endElement(int depth) {
    if (pastRoot_) return;
    levels_.pop_back();
    // The root's end: what follows it is not part of the tree.
    if (depth == 1) pastRoot_ = true;
}

void TreeReplyReader::otherNode(int depth) {
    if (pastRoot_) return;
    if (depth == 1) {
        // A reply that does not start with an element has no tree.
        if (!rootSeen_) pastRoot_ = true;
        return;
    }
    if (depth == 2) placeRoot();
    // A child that is not an element has no ID or Value to be read.
    parentOf(depth).skipping = true;
}

}  // namespace ovk
