// SPDX-License-Identifier: MIT
#include "wizard/tree_view.hpp"

#include <algorithm>
#include <stdexcept>

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

// FNV-1a's low bits depend only on the low bits of what it read, so keys that differ in their
// last characters (siblings numbered 1 to 100) crowd into a few places of the table. Mixing
// the high bits down spreads them.
std::size_t home(std::uint64_t hash) {
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return static_cast<std::size_t>(hash);
}

constexpr std::string_view kIdSeparator = "{}";
constexpr std::string_view kLevelSeparator = "||";

}  // namespace

void TreeView::refuse(const std::string& bound) const {
    throw Error(err::SoapReplyTooLarge, "The structure tree is too large to show: " + bound, name);
}

const TreeView::Node& TreeView::node(int index) const {
    if (index < 0 || index >= count_) throw std::out_of_range("TreeView: no such node");
    return at(index);
}

TreeView::Siblings TreeView::children(int index) const {
    return {*this, index < 0 ? roots_.first : node(index).children.first};
}

std::uint8_t TreeView::internImage(std::string_view key) {
    for (std::size_t i = 0; i < images_.size(); ++i)
        if (images_[i] == key) return static_cast<std::uint8_t>(i);
    if (images_.size() > 255) throw Error(err::InvalidArgument, "Too many pictures", name);
    images_.emplace_back(key);
    return static_cast<std::uint8_t>(images_.size() - 1);
}

const char* TreeView::keepPart(std::string_view id, std::string_view value) {
    const std::size_t size = id.size() + kIdSeparator.size() + value.size();
    char* part = nullptr;
    if (size > kTextBlock / 4) {
        // A large part gets a block of its own; the current block stays in use for the next.
        texts_.push_back(std::make_unique_for_overwrite<char[]>(size));
        part = texts_.back().get();
    } else {
        if (size > textLeft_) {
            texts_.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
            textAt_ = texts_.back().get();
            textLeft_ = kTextBlock;
        }
        part = textAt_;
        textAt_ += size;
        textLeft_ -= size;
    }
    std::ranges::copy(value, std::ranges::copy(kIdSeparator, std::ranges::copy(id, part).out).out);
    return part;
}

int TreeView::Add(int parent, std::string_view id, std::string_view value, std::string_view image,
                  std::string_view selectedImage) {
    if (parent < -1 || parent >= count_)
        throw Error(err::ElementNotFound, "Element not found", name);
    const int depth = parent < 0 ? 1 : at(parent).depth + 1;
    if (count_ >= static_cast<int>(limits_.maxNodes))
        refuse("it has more than " + std::to_string(limits_.maxNodes) + " nodes");
    if (depth > limits_.maxDepth)
        refuse("it is nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    const std::size_t partSize = id.size() + kIdSeparator.size() + value.size();
    if (partSize > limits_.maxText - text_)
        refuse("its texts take more than " + std::to_string(limits_.maxText) + " bytes");

    std::uint64_t hash = kHashStart;
    if (parent >= 0) hash = hashOn(at(parent).keyHash, kLevelSeparator);
    hash = hashOn(hashOn(hashOn(hash, id), kIdSeparator), value);
    // Without a "|" in any part, a key names one path, so only a sibling can take it; a part
    // with one can spell another path's key, and from then on every key is checked against all.
    if (!indexed_ &&
        (id.find('|') != std::string_view::npos || value.find('|') != std::string_view::npos)) {
        buildIndex();
        open_.clear();
    }
    Slots& slots = indexed_ ? index_ : siblingsOf(parent);
    makeRoom(slots);
    std::size_t free = 0;
    const int clash = probe(slots, hash, free, [&](int other) {
        const Node& o = at(other);
        // Siblings, the usual clash, compare their own parts; anything else compares whole keys.
        const std::string_view part = o.Part();
        return o.parent == parent
                   ? part.size() == partSize && part.starts_with(id) &&
                         part.substr(id.size()).starts_with(kIdSeparator) &&
                         part.substr(id.size() + kIdSeparator.size()) == value
                   : keyEquals(other, (parent >= 0 ? Key(parent) + std::string(kLevelSeparator)
                                                   : std::string()) +
                                          std::string(id) + std::string(kIdSeparator) +
                                          std::string(value));
    });
    if (clash >= 0) throw Error(err::KeyNotUnique, "Key is not unique in collection", name);
    const std::uint8_t imageIndex = internImage(image);
    const std::uint8_t selectedIndex = internImage(selectedImage);

    const int index = count_;
    if ((static_cast<std::size_t>(index) >> kBlockBits) == blocks_.size())
        blocks_.push_back(std::make_unique<Node[]>(std::size_t{1} << kBlockBits));
    Node& node = at(index);
    node.part = keepPart(id, value);
    node.partSize = static_cast<std::uint32_t>(partSize);
    node.valueAt = static_cast<std::uint32_t>(id.size() + kIdSeparator.size());
    node.keyHash = hash;
    node.parent = parent;
    node.depth = static_cast<std::uint16_t>(depth);
    node.image = imageIndex;
    node.selectedImage = selectedIndex;
    Children& siblings = parent >= 0 ? at(parent).children : roots_;
    node.row = siblings.count;
    if (siblings.last >= 0)
        at(siblings.last).nextSibling = index;
    else
        siblings.first = index;
    siblings.last = index;
    ++siblings.count;
    ++count_;
    place(slots, free, index);
    text_ += partSize;
    ++revision_;
    return index;
}

// The nodes of a reply come in document order, so the parent of the next node is always on
// the path to the node added before it: only the children of that path's nodes are kept in
// sets, and a set goes when the reading leaves its node. A tree added to in any other order
// costs a set built anew from the parent's children.
TreeView::Slots& TreeView::siblingsOf(int parent) {
    if (parent >= 0 && parent == count_ - 1 && at(parent).children.empty()) {
        open_.push_back({parent, {}});
        return open_.back().set;
    }
    while (!open_.empty() && open_.back().parent != parent) open_.pop_back();
    if (open_.empty()) {
        open_.push_back({parent, {}});
        Slots& slots = open_.back().set;
        for (const int child : children(parent)) {
            makeRoom(slots);
            std::size_t free = 0;
            probe(slots, at(child).keyHash, free, [](int) { return false; });
            place(slots, free, child);
        }
    }
    return open_.back().set;
}

void TreeView::buildIndex() const {
    index_ = {};
    std::size_t size = 1024;
    while (size < (static_cast<std::size_t>(count_) + 1) * 2) size *= 2;
    index_.places.assign(size, 0);
    for (int i = 0; i < count_; ++i) {
        std::size_t free = 0;
        probe(index_, at(i).keyHash, free, [](int) { return false; });
        place(index_, free, i);
    }
    indexed_ = true;
}

// Visits the nodes of `slots` whose key hash is `hash` until `same` says one is the node
// sought, and returns it; or -1, with `free` the place where the probe found none. Each place
// keeps the high half of its node's hash beside the index, so that passing over other nodes'
// places does not read those nodes.
template <class Same>
int TreeView::probe(const Slots& slots, std::uint64_t hash, std::size_t& free, Same&& same) const {
    const std::size_t mask = slots.places.size() - 1;
    const std::uint64_t tag = hash >> 32;
    for (std::size_t at = home(hash) & mask;; at = (at + 1) & mask) {
        const std::uint64_t place = slots.places[at];
        if (place == 0) {
            free = at;
            return -1;
        }
        if (place >> 32 != tag) continue;
        const int index = static_cast<int>(place & 0xffffffffU) - 1;
        if (this->at(index).keyHash == hash && same(index)) return index;
    }
}

void TreeView::place(Slots& slots, std::size_t free, int index) const {
    slots.places[free] = (at(index).keyHash >> 32 << 32) | static_cast<std::uint32_t>(index + 1);
    ++slots.used;
}

void TreeView::makeRoom(Slots& slots) const {
    if ((slots.used + 1) * 2 <= slots.places.size()) return;
    Slots grown;
    grown.places.assign(slots.places.empty() ? 16 : slots.places.size() * 2, 0);
    for (const std::uint64_t old : slots.places) {
        if (old == 0) continue;
        std::size_t free = 0;
        const int index = static_cast<int>(old & 0xffffffffU) - 1;
        probe(grown, at(index).keyHash, free, [](int) { return false; });
        place(grown, free, index);
    }
    slots = std::move(grown);
}

void TreeView::Clear() {
    blocks_ = decltype(blocks_)();
    texts_ = decltype(texts_)();
    textAt_ = nullptr;
    textLeft_ = 0;
    count_ = 0;
    roots_ = {};
    index_ = {};
    indexed_ = false;
    open_.clear();
    text_ = 0;
    selected_ = -1;
    ++revision_;
    ++stateRevision_;
}

void TreeView::Clear(BackgroundDisposal& freeing) {
    freeing.dispose(std::move(blocks_));
    freeing.dispose(std::move(texts_));
    freeing.dispose(std::move(index_.places));
    Clear();
}

std::string TreeView::Key(int index) const {
    std::size_t size = 0;
    for (int i = index; i >= 0; i = node(i).parent) size += at(i).partSize + kLevelSeparator.size();
    std::string key(size - kLevelSeparator.size(), '\0');
    std::size_t end = key.size();
    for (int i = index; i >= 0; i = at(i).parent) {
        const std::string_view part = at(i).Part();
        end -= part.size();
        key.replace(end, part.size(), part);
        if (at(i).parent >= 0) {
            end -= kLevelSeparator.size();
            key.replace(end, kLevelSeparator.size(), kLevelSeparator);
        }
    }
    return key;
}

bool TreeView::keyEquals(int index, std::string_view key) const {
    std::size_t end = key.size();
    for (int i = index; i >= 0; i = at(i).parent) {
        const Node& node = at(i);
        const std::string_view part = node.Part();
        if (end < part.size() || key.substr(end - part.size(), part.size()) != part) return false;
        end -= part.size();
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
    if (count_ == 0) return -1;
    // Built at the first look-up: a tree that is only shown and clicked never needs it.
    if (!indexed_) buildIndex();
    std::size_t free = 0;
    return probe(index_, hashOn(kHashStart, key), free,
                 [&](int index) { return keyEquals(index, key); });
}

void TreeView::setExpanded(int index, bool expanded) {
    if (index < 0 || index >= count_) throw std::out_of_range("TreeView: no such node");
    at(index).Expanded = expanded;
    ++stateRevision_;
}

void TreeView::SelectedItem(int index) {
    if (index < -1 || index >= Count())
        throw Error(err::InvalidArgument, "Invalid procedure call or argument", name);
    selected_ = index;
    ++stateRevision_;
}

}  // namespace ovk
