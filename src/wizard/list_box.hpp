// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/controls.hpp"

namespace ovk {

// A list box: unsorted entries, each a display text with a whole number as item data, and at
// most one current entry. Indices count from 0; ListIndex is -1 when no entry is current.
// Misuse fails with Error 5 (invalid argument), the number hosts see for a bad argument, so that a
// handler running under "skip the failing statement" skips exactly that statement.
class ListBox : public Control {
  public:
    struct Entry {
        std::string text;
        int32_t itemData = 0;
    };

    // Inserts `text` at `index` (-1: at the end) and makes NewIndex point at it.
    void AddItem(std::string text, int index = -1);
    void RemoveItem(int index);
    void Clear();

    int ListCount() const { return static_cast<int>(entries_.size()); }
    const std::string& List(int index) const;
    int32_t ItemData(int index) const;
    void ItemData(int index, int32_t value);

    // The current entry; setting an index outside the list fails and changes nothing.
    int ListIndex() const { return listIndex_; }
    void ListIndex(int index);
    // The index of the entry added last.
    int NewIndex() const { return newIndex_; }

    const std::vector<Entry>& entries() const { return entries_; }
    // Bumps on every change of the entries or the current entry; views repaint when it moved.
    uint64_t revision() const { return revision_; }

  private:
    void check(int index) const;

    std::vector<Entry> entries_;
    int listIndex_ = -1;
    int newIndex_ = -1;
    uint64_t revision_ = 0;
};

}  // namespace ovk
