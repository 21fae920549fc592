#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/controls.hpp"

namespace ovk {

// A tree view: nodes with a unique key, a text and two image keys, in insertion order.
// Nodes are found by key through a hash, so building and walking a tree of hundreds of
// thousands of nodes stays linear. Node indices stay valid until Clear.
class TreeView : public Control {
  public:
    struct Node {
        std::string Key;
        std::string Text;
        std::string Image;
        std::string SelectedImage;
        int parent = -1;  // -1 for a top-level node
        std::vector<int> children;
        bool Expanded = false;
    };

    // Adds a node as the last child of the node under `relativeKey`, or at the top level when
    // it is empty. Throws Error KeyNotUnique when `key` is taken (the tree is unchanged) and
    // ElementNotFound when there is no node under `relativeKey`. Returns the new node's index.
    int Add(std::string_view relativeKey, std::string key, std::string text, std::string image,
            std::string selectedImage);
    void Clear();

    int Count() const { return static_cast<int>(nodes_.size()); }
    const Node& node(int index) const { return nodes_.at(static_cast<std::size_t>(index)); }
    // The index of the node under `key`, or -1.
    int find(std::string_view key) const;
    void setExpanded(int index, bool expanded);

    // The selected node's index, or -1.
    int SelectedItem() const { return selected_; }
    void SelectedItem(int index);

    // Bumps when nodes are added or cleared; views rebuild when it moved.
    uint64_t revision() const { return revision_; }
    // Bumps when a node is expanded or collapsed or the selection changes.
    uint64_t stateRevision() const { return stateRevision_; }

  private:
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };
    std::vector<Node> nodes_;
    std::unordered_map<std::string, int, KeyHash, std::equal_to<>> index_;
    int selected_ = -1;
    uint64_t revision_ = 0;
    uint64_t stateRevision_ = 0;
};

}  // namespace ovk
