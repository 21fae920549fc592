// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wizard/tree_view.hpp"
#include "xml/element_events.hpp"

namespace ovk {

// Builds a tree view from a structure reply as it is read, one element at a time. The first
// node of the reply is the root element; every element below it becomes a node under its
// parent's node, keyed by its `ID` and shown by its `Value`.
//
// As the tree has always been built: a reply whose root has no children adds nothing; a root
// without `ID` or `Value` fails the whole reading (ObjectMissing); a child that cannot be added
// (no `ID` or `Value`, not an element, a key already in the tree) ends the work on its parent's
// remaining children and their subtrees, silently, and the reading goes on after them. A bound
// of the tree view (SoapReplyTooLarge) ends the whole reading.
class TreeReplyReader : public xml::ElementEvents {
  public:
    TreeReplyReader(TreeView& view, std::string image, std::string selectedImage);

    void startElement(int depth, std::span<const xml::AttributeView> attributes) override;
    void endElement(int depth) override;
    void otherNode(int depth) override;

    // The top-level node, or -1 when the reply gave none.
    int root() const { return root_; }

  private:
    struct Level {
        int node = -1;          // -1: this element is not in the tree
        bool skipping = false;  // its remaining children are left out
    };
    // The root gets its node once it proves to have children.
    void placeRoot();
    Level& parentOf(int depth) { return levels_[static_cast<std::size_t>(depth - 2)]; }

    TreeView& view_;
    std::string image_;
    std::string selectedImage_;
    bool rootSeen_ = false;
    bool pastRoot_ = false;
    std::optional<std::string> rootId_;
    std::optional<std::string> rootValue_;
    int root_ = -1;
    // The open elements from the root down (index 0: the root).
    std::vector<Level> levels_;
};

}  // namespace ovk
