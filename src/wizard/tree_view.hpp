// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
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
// Cost model, for trees of millions of nodes: a node is one fixed record of about 56 bytes in
// blocks of thousands, and its own part lies in blocks of text shared by all nodes, so building
// a tree allocates once per block rather than once per node, and freeing it is as cheap. Children
// are linked from their parent in order. A full key is put together only when asked for, in time
// proportional to its length. Look-up by key is one hash probe: each node keeps the hash of its
// full key, carried on from its parent's, and a hit is confirmed by comparing the key part by
// part from its end. Node indices and the nodes' texts stay valid until Clear.
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

    // Where a node's children stand: the first and the last, linked by their nextSibling.
    struct Children {
        int first = -1;
        int last = -1;
        int count = 0;

        bool empty() const { return count == 0; }
        std::size_t size() const { return static_cast<std::size_t>(count); }
    };

    struct Node {
        const char* part = nullptr;  // ID + "{}" + Value, in the tree's text blocks
        std::uint64_t keyHash = 0;
        std::uint32_t partSize = 0;
        std::uint32_t valueAt = 0;
        int parent = -1;  // -1 for a top-level node
        int nextSibling = -1;
        int row = 0;  // its place among its parent's children (or the top-level nodes)
        Children children;
        std::uint16_t depth = 1;
        std::uint8_t image = 0;
        std::uint8_t selectedImage = 0;
        bool Expanded = false;

        std::string_view Part() const { return {part, partSize}; }
        // The text shown: the node's value.
        std::string_view Text() const { return Part().substr(valueAt); }
    };

    // The nodes of one level in order, as indices.
    class Siblings {
      public:
        class iterator {
          public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = int;
            using difference_type = std::ptrdiff_t;
            using pointer = const int*;
            using reference = int;

            iterator() = default;
            iterator(const TreeView* tree, int at) : tree_(tree), at_(at) {}
            int operator*() const { return at_; }
            iterator& operator++() {
                at_ = tree_->node(at_).nextSibling;
                return *this;
            }
            iterator operator++(int) {
                iterator before = *this;
                ++*this;
                return before;
            }
            bool operator==(const iterator& other) const { return at_ == other.at_; }

          private:
            const TreeView* tree_ = nullptr;
            int at_ = -1;
        };

        Siblings(const TreeView& tree, int first) : tree_(&tree), first_(first) {}
        iterator begin() const { return {tree_, first_}; }
        iterator end() const { return {tree_, -1}; }

      private:
        const TreeView* tree_;
        int first_;
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

    int Count() const { return count_; }
    // Throws std::out_of_range for an index that names no node.
    const Node& node(int index) const;
    // The children of `index`, or the top-level nodes for -1.
    Siblings children(int index) const;
    // The top-level nodes.
    const Children& roots() const { return roots_; }
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
    // Nodes per block: a block is about a megabyte, so that a tree never stands twice in
    // memory while it grows, as one vector of all nodes would while it moves.
    static constexpr int kBlockBits = 14;
    static constexpr std::size_t kTextBlock = std::size_t{256} << 10;

    Node& at(int index) {
        return blocks_[static_cast<std::size_t>(index) >> kBlockBits]
                      [static_cast<std::size_t>(index) & ((std::size_t{1} << kBlockBits) - 1)];
    }
    const Node& at(int index) const { return const_cast<TreeView*>(this)->at(index); }
    std::uint8_t internImage(std::string_view key);
    const char* keepPart(std::string_view id, std::string_view value);
    bool keyEquals(int index, std::string_view key) const;
    // Open addressing over nodes, at most half full: each place holds the high half of its
    // node's key hash and its index + 1 (0: free).
    struct Slots {
        std::vector<std::uint64_t> places;
        std::size_t used = 0;
    };
    struct SiblingSlots {
        int parent;
        Slots set;
    };
    template <class Same>
    int probe(const Slots& slots, std::uint64_t hash, std::size_t& free, Same&& same) const;
    void place(Slots& slots, std::size_t free, int index) const;
    void makeRoom(Slots& slots) const;
    void buildIndex() const;
    Slots& siblingsOf(int parent);
    [[noreturn]] void refuse(const std::string& bound) const;

    Limits limits_;
    std::vector<std::unique_ptr<Node[]>> blocks_;
    int count_ = 0;
    Children roots_;
    // The parts' bytes; the last block fills until the next part does not fit.
    std::vector<std::unique_ptr<char[]>> texts_;
    std::size_t textLeft_ = 0;
    char* textAt_ = nullptr;
    // Every node by its key, built at the first need.
    mutable Slots index_;
    mutable bool indexed_ = false;
    // Until then, the children of the nodes on the path to the node added last.
    std::vector<SiblingSlots> open_;
    std::vector<std::string> images_;
    std::size_t text_ = 0;
    int selected_ = -1;
    uint64_t revision_ = 0;
    uint64_t stateRevision_ = 0;
};

}  // namespace ovk
