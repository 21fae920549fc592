// SPDX-License-Identifier: MIT
#include "util/position_index.hpp"

#include <bit>

namespace ovk {
namespace {

std::size_t lowBit(std::size_t i) {
    return i & (~i + 1);
}

}  // namespace

void PositionIndex::reset(std::size_t slots) {
    tree_.assign(slots + 1, 0);
    for (std::size_t i = 1; i <= slots; ++i) tree_[i] = static_cast<uint32_t>(lowBit(i));
}

void PositionIndex::append() {
    const std::size_t i = tree_.size();
    const std::size_t covered = prefixSum(i - 1) - prefixSum(i - lowBit(i));
    tree_.push_back(static_cast<uint32_t>(covered + 1));
}

void PositionIndex::retire(std::size_t slot) {
    for (std::size_t i = slot + 1; i < tree_.size(); i += lowBit(i)) --tree_[i];
}

std::size_t PositionIndex::slotAt(std::size_t position) const {
    const std::size_t size = tree_.size() - 1;
    std::size_t at = 0;
    for (std::size_t step = size == 0 ? 0 : std::bit_floor(size); step != 0; step >>= 1) {
        if (at + step <= size && tree_[at + step] < position) {
            at += step;
            position -= tree_[at];
        }
    }
    return at;  // the 1-based slot is at + 1
}

std::size_t PositionIndex::prefixSum(std::size_t end) const {
    std::size_t sum = 0;
    for (std::size_t i = end; i > 0; i -= lowBit(i)) sum += tree_[i];
    return sum;
}

}  // namespace ovk
