// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/controls.hpp"
#include "util/background_disposal.hpp"

namespace ovk {

// A tree view whose nodes stand for the elements of a structure reply: each has an identifier
// and a value, shows the value, and is known by its key, the path of "ID{}Value" parts joined
// by "||" from the top-level node down.
//
// Cost model, for trees of millions of nodes: a node keeps only its own part and a link to its
// parent (about 80 bytes plus a part longer than 15 bytes); a full key is put together only when
// asked for, in time proportional to its length. Look-up by key is one hash probe: each node
// keeps the hash of its full key, carried on from its parent's, and a hit is confirmed by
// comparing the key part by part from its end. Node indices stay valid until Clear.
//
// What one tree may hold is bounded (Limits), so that a reply of a few megabytes cannot
// exhaust the host; a node over a bound is refused with Error SoapReplyTooLarge naming it.
class TreeView : public Control {
  public:
    struct Limits {
        std::size_t maxNodes = 2'000'000;
        int maxDepth = 256;                            // the top level is 1
        std::size_t maxText = std::size_t{256} << 20;  // bytes of all parts together
    };

    struct Node {
        std::string Part;  // ID + "{}" + Value
        std::vector<int> children;
        std::uint64_t keyHash = 0;
        int parent = -1;  // -1 for a top-level node
        std::uint32_t valueAt = 0;
        std::uint16_t depth = 1;
        std::uint8_t image = 0;
        std::uint8_t selectedImage = 0;
        bool Expanded = false;

        // The text shown: the node's value.
        std::string_view Text() const { return std::string_view(Part).substr(valueAt); }
    };

    TreeView() = default;
    explicit TreeView(Limits limits) : limits_(limits) {}

    // Adds a node for the element (`id`, `value`) as the last child of `parent`, or at the top
    // level when it is -1. Throws Error KeyNotUnique when its key is taken (the tree is
    // unchanged), ElementNotFound when there is no node `parent`, SoapReplyTooLarge when a
    // bound would be broken. Returns the new node's index.
    int Add(int parent, std::string_view id, std::string_view value, std::string_view image,
            std::string_view selectedImage);
    void Clear();

    int Count() const { return static_cast<int>(nodes_.size()); }
    const Node& node(int index) const { return nodes_.at(static_cast<std::size_t>(index)); }
    // The node's full key.
    std::string Key(int index) const;
    // The picture key a node names by its `image` or `selectedImage`.
    const std::string& imageKey(std::uint8_t image) const { return images_.at(image); }
    // The index of the node under `key`, or -1.
    int find(std::string_view key) const;
    void setExpanded(int index, bool expanded);
    const Limits& limits() const { return limits_; }

    // The selected node's index, or -1.
    int SelectedItem() const { return selected_; }
    void SelectedItem(int index);

    // Bumps when nodes are added or cleared; views rebuild when it moved.
    uint64_t revision() const { return revision_; }
    // Bumps when a node is expanded or collapsed or the selection changes.
    uint64_t stateRevision() const { return stateRevision_; }

    // Clear, with the old nodes freed by `freeing` rather than here.
    void Clear(BackgroundDisposal& freeing);

  private:
    std::uint8_t internImage(std::string_view key);
    bool keyEquals(int index, std::string_view key) const;
    int probe(std::uint64_t hash, std::size_t& slot) const;
    void grow();
    [[noreturn]] void refuse(const std::string& bound) const;

    Limits limits_;
    // A deque, not a vector: a vector of a million nodes would stand twice in memory while it
    // grows, once at the old place and once at the new.
    std::deque<Node> nodes_;
    // Open addressing over node indices (-1 free), at most half full.
    std::vector<int> slots_;
    std::vector<std::string> images_;
    std::size_t text_ = 0;
    int selected_ = -1;
    uint64_t revision_ = 0;
    uint64_t stateRevision_ = 0;
};

}  // namespace ovk
