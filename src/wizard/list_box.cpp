// SPDX-License-Identifier: MIT
#include "wizard/list_box.hpp"

#include "platform/errors.hpp"

namespace ovk {

void ListBox::check(int index) const {
    if (index < 0 || index >= ListCount())
        throw Error(err::InvalidArgument, "Invalid procedure call or argument", name);
}

void ListBox::AddItem(std::string text, int index) {
    if (index == -1) index = ListCount();
    if (index < 0 || index > ListCount())
        throw Error(err::InvalidArgument, "Invalid procedure call or argument", name);
    entries_.insert(entries_.begin() + index, Entry{std::move(text), 0});
    if (listIndex_ >= index) ++listIndex_;
    newIndex_ = index;
    ++revision_;
}

void ListBox::RemoveItem(int index) {
    check(index);
    entries_.erase(entries_.begin() + index);
    if (listIndex_ == index) {
        listIndex_ = -1;
    } else if (listIndex_ > index) {
        --listIndex_;
    }
    newIndex_ = -1;
    ++revision_;
}

void ListBox::Clear() {
    entries_.clear();
    listIndex_ = -1;
    newIndex_ = -1;
    ++revision_;
}

const std::string& ListBox::List(int index) const {
    check(index);
    return entries_[static_cast<std::size_t>(index)].text;
}

int32_t ListBox::ItemData(int index) const {
    check(index);
    return entries_[static_cast<std::size_t>(index)].itemData;
}

void ListBox::ItemData(int index, int32_t value) {
    check(index);
    entries_[static_cast<std::size_t>(index)].itemData = value;
    ++revision_;
}

void ListBox::ListIndex(int index) {
    if (index != -1) check(index);
    listIndex_ = index;
    ++revision_;
}

}  // namespace ovk
