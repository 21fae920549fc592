// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ovk {

// Positions over an append-only row of slots from which slots can be retired: position p
// (counted from 1) is the p-th slot still in use. A Fenwick tree of in-use flags makes
// appending, retiring and finding the slot at a position all O(log n), so that removing
// members one by one from a large collection never costs a pass over the whole collection.
class PositionIndex {
  public:
    // Starts over with `slots` slots, all in use.
    void reset(std::size_t slots);
    // Adds a slot in use after the last one.
    void append();
    // Forgets the last slot, in use or not.
    void removeLast() { tree_.pop_back(); }
    // Stops counting the slot with index `slot` (from 0), which must be in use.
    void retire(std::size_t slot);
    // The index (from 0) of the slot at `position`, which must lie between 1 and the number
    // of slots in use.
    std::size_t slotAt(std::size_t position) const;

  private:
    std::size_t prefixSum(std::size_t end) const;

    // 1-based; tree_[i] counts the slots in use among (i - lowbit(i), i]. tree_[0] is unused.
    std::vector<uint32_t> tree_{0};
};

}  // namespace ovk
