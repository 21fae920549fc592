// SPDX-License-Identifier: MIT
#include "wizard/tree_view.hpp"

#include "platform/errors.hpp"

namespace ovk {

namespace {

// FNV-1a: a key's hash carries on from its parent's, so a child's costs only its own part.
constexpr std::uint64_t kHashStart = 14695981039346656037ULL;
std::uint64_t hashOn(std::uint64_t hash, std::string_view text) {
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

constexpr std::string_view kIdSeparator = "{}";
constexpr std::string_view kLevelSeparator = "||";

}  // namespace

void TreeView::refuse(const std::string& bound) const {
    throw Error(err::SoapReplyTooLarge, "The structure tree is too large to show: " + bound, name);
}

std::uint8_t TreeView::internImage(std::string_view key) {
    for (std::size_t i = 0; i < images_.size(); ++i)
        if (images_[i] == key) return static_cast<std::uint8_t>(i);
    if (images_.size() > 255) throw Error(err::InvalidArgument, "Too many pictures", name);
    images_.emplace_back(key);
    return static_cast<std::uint8_t>(images_.size() - 1);
}

int TreeView::Add(int parent, std::string_view id, std::string_view value, std::string_view image,
                  std::string_view selectedImage) {
    if (parent < -1 || parent >= Count())
        throw Error(err::ElementNotFound, "Element not found", name);
    const int depth = parent < 0 ? 1 : nodes_[static_cast<std::size_t>(parent)].depth + 1;
    if (Count() >= static_cast<int>(limits_.maxNodes))
        refuse("it has more than " + std::to_string(limits_.maxNodes) + " nodes");
    if (depth > limits_.maxDepth)
        refuse("it is nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    const std::size_t partSize = id.size() + kIdSeparator.size() + value.size();
    if (partSize > limits_.maxText - text_)
        refuse("its texts take more than " + std::to_string(limits_.maxText) + " bytes");

    std::uint64_t hash = kHashStart;
    if (parent >= 0)
        hash = hashOn(nodes_[static_cast<std::size_t>(parent)].keyHash, kLevelSeparator);
    hash = hashOn(hashOn(hashOn(hash, id), kIdSeparator), value);
    if ((nodes_.size() + 1) * 2 > slots_.size()) grow();
    std::size_t slot = 0;
    for (int other = probe(hash, slot); other >= 0; other = probe(hash, ++slot)) {
        const Node& o = nodes_[static_cast<std::size_t>(other)];
        // Siblings, the usual clash, compare their own parts; anything else compares whole keys.
        const bool same =
            o.parent == parent
                ? o.Part.size() == partSize && o.Part.starts_with(id) &&
                      std::string_view(o.Part).substr(id.size()).starts_with(kIdSeparator) &&
                      std::string_view(o.Part).substr(id.size() + kIdSeparator.size()) == value
                : keyEquals(
                      other,
                      (parent >= 0 ? Key(parent) + std::string(kLevelSeparator) : std::string()) +
                          std::string(id) + std::string(kIdSeparator) + std::string(value));
        if (same) throw Error(err::KeyNotUnique, "Key is not unique in collection", name);
    }

    Node node;
    node.Part.reserve(partSize);
    node.Part.append(id).append(kIdSeparator).append(value);
    node.valueAt = static_cast<std::uint32_t>(id.size() + kIdSeparator.size());
    node.keyHash = hash;
    node.parent = parent;
    node.depth = static_cast<std::uint16_t>(depth);
    node.image = internImage(image);
    node.selectedImage = internImage(selectedImage);
    const int index = Count();
    nodes_.push_back(std::move(node));
    slots_[slot & (slots_.size() - 1)] = index;
    text_ += partSize;
    if (parent >= 0) nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
    ++revision_;
    return index;
}

// The node in the probe sequence's `slot`-th place for `hash`, or -1 at a free place (where
// `slot` then points).
int TreeView::probe(std::uint64_t hash, std::size_t& slot) const {
    const std::size_t mask = slots_.size() - 1;
    for (;; ++slot) {
        const int index = slots_[(hash + slot) & mask];
        if (index < 0) {
            slot = (hash + slot) & mask;
            return -1;
        }
        if (nodes_[static_cast<std::size_t>(index)].keyHash == hash) return index;
    }
}

void TreeView::grow() {
    std::vector<int> slots(slots_.empty() ? 1024 : slots_.size() * 2, -1);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        std::size_t at = nodes_[i].keyHash & mask;
        while (slots[at] >= 0) at = (at + 1) & mask;
        slots[at] = static_cast<int>(i);
    }
    slots_ = std::move(slots);
}

void TreeView::Clear() {
    nodes_ = {};
    slots_ = {};
    text_ = 0;
    selected_ = -1;
    ++revision_;
    ++stateRevision_;
}

void TreeView::Clear(BackgroundDisposal& freeing) {
    freeing.dispose(std::move(nodes_));
    freeing.dispose(std::move(slots_));
    Clear();
}

std::string TreeView::Key(int index) const {
    std::size_t size = 0;
    for (int at = index; at >= 0; at = nodes_.at(static_cast<std::size_t>(at)).parent)
        size += nodes_[static_cast<std::size_t>(at)].Part.size() + kLevelSeparator.size();
    std::string key(size - kLevelSeparator.size(), '\0');
    std::size_t end = key.size();
    for (int at = index; at >= 0; at = nodes_[static_cast<std::size_t>(at)].parent) {
        const std::string& part = nodes_[static_cast<std::size_t>(at)].Part;
        end -= part.size();
        key.replace(end, part.size(), part);
        if (nodes_[static_cast<std::size_t>(at)].parent >= 0) {
            end -= kLevelSeparator.size();
            key.replace(end, kLevelSeparator.size(), kLevelSeparator);
        }
    }
    return key;
}

bool TreeView::keyEquals(int index, std::string_view key) const {
    std::size_t end = key.size();
    for (int at = index; at >= 0; at = nodes_[static_cast<std::size_t>(at)].parent) {
        const Node& node = nodes_[static_cast<std::size_t>(at)];
        if (end < node.Part.size() ||
            key.substr(end - node.Part.size(), node.Part.size()) != node.Part)
            return false;
        end -= node.Part.size();
        if (node.parent >= 0) {
            if (end < kLevelSeparator.size() ||
                key.substr(end - kLevelSeparator.size(), kLevelSeparator.size()) != kLevelSeparator)
                return false;
            end -= kLevelSeparator.size();
        }
    }
    return end == 0;
}

int TreeView::find(std::string_view key) const {
    if (slots_.empty()) return -1;
    const std::uint64_t hash = hashOn(kHashStart, key);
    std::size_t slot = 0;
    for (int index = probe(hash, slot); index >= 0; index = probe(hash, ++slot))
        if (keyEquals(index, key)) return index;
    return -1;
}

void TreeView::setExpanded(int index, bool expanded) {
    nodes_.at(static_cast<std::size_t>(index)).Expanded = expanded;
    ++stateRevision_;
}

void TreeView::SelectedItem(int index) {
    if (index < -1 || index >= Count())
        throw Error(err::InvalidArgument, "Invalid procedure call or argument", name);
    selected_ = index;
    ++stateRevision_;
}

}  // namespace ovk
