#include "wizard/tree_view.hpp"

#include "platform/errors.hpp"

namespace ovk {

int TreeView::Add(std::string_view relativeKey, std::string key, std::string text,
                  std::string image, std::string selectedImage) {
    int parent = -1;
    if (!relativeKey.empty()) {
        parent = find(relativeKey);
        if (parent < 0) throw Error(err::ElementNotFound, "Element not found", name);
    }
    const int index = Count();
    // One hash of the key both refuses a duplicate and files the new node.
    if (!index_.try_emplace(key, index).second)
        throw Error(err::KeyNotUnique, "Key is not unique in collection", name);
    nodes_.push_back(Node{std::move(key),
                          std::move(text),
                          std::move(image),
                          std::move(selectedImage),
                          parent,
                          {},
                          false});
    if (parent >= 0) nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
    ++revision_;
    return index;
}

void TreeView::Clear() {
    nodes_.clear();
    index_.clear();
    selected_ = -1;
    ++revision_;
    ++stateRevision_;
}

int TreeView::find(std::string_view key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
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
