// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/errors.hpp"
#include "util/case_fold.hpp"
#include "util/position_index.hpp"

namespace ovk {

// The ordered, keyed collection behind the component's small collection classes. Members
// keep the order in which they were added and are counted from position 1; removing one
// moves those behind it one position forward. A member may be added under a key, unique in
// the collection without regard to letter case; a member added without one is reachable by
// position only. Members are shared: look-ups hand out the member itself.
//
// Look-up by key is a hash look-up of the case-folded key. Removal leaves a gap that the
// position index skips, and the gaps are squeezed out once they outnumber the members, so
// adding, finding, removing and walking stay cheap for hundreds of thousands of members.
// Any Add, Remove or clear invalidates iterators.
template <class Member>
class OrderedKeyedCollection {
    using Index = std::unordered_map<std::string, std::size_t>;

    struct Slot {
        std::shared_ptr<Member> member;  // nullptr: removed, waiting to be squeezed out
        typename Index::value_type* key = nullptr;
    };

  public:
    using Pointer = std::shared_ptr<Member>;

    class ConstIterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Pointer;
        using difference_type = std::ptrdiff_t;
        using pointer = const Pointer*;
        using reference = const Pointer&;

        ConstIterator() = default;
        reference operator*() const { return at_->member; }
        pointer operator->() const { return &at_->member; }
        ConstIterator& operator++() {
            ++at_;
            skipGaps();
            return *this;
        }
        ConstIterator operator++(int) {
            ConstIterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const ConstIterator& other) const { return at_ == other.at_; }

      private:
        friend class OrderedKeyedCollection;
        ConstIterator(const Slot* at, const Slot* end) : at_(at), end_(end) { skipGaps(); }
        void skipGaps() {
            while (at_ != end_ && !at_->member) ++at_;
        }

        const Slot* at_ = nullptr;
        const Slot* end_ = nullptr;
    };

    // The collection counts its members in a signed 32-bit number.
    static constexpr std::size_t kMaxMembers = std::numeric_limits<int32_t>::max();

    std::size_t size() const { return members_; }

    // Appends `member`, under `key` unless the key is empty. A key the collection already
    // holds throws Error DuplicateKey and changes nothing.
    void add(Pointer member, std::string_view key) {
        if (!member) throw Error(err::ObjectMissing, "Object variable not set");
        if (members_ == kMaxMembers) throw Error(err::OutOfMemory, "The collection is full");
        auto entry = index_.end();
        if (!key.empty()) {
            bool added = false;
            std::tie(entry, added) = index_.try_emplace(caseFold(key), slots_.size());
            if (!added) {
                throw Error(err::DuplicateKey,
                            "This key is already associated with an element of this collection");
            }
        }
        try {
            slots_.push_back(Slot{std::move(member), entry == index_.end() ? nullptr : &*entry});
            try {
                positions_.append();
            } catch (...) {
                slots_.pop_back();
                throw;
            }
        } catch (...) {
            if (entry != index_.end()) index_.erase(entry);
            throw;
        }
        ++members_;
    }

    // The member at `position` (from 1), or nullptr when there is none.
    Pointer item(int64_t position) const {
        if (position < 1 || static_cast<uint64_t>(position) > members_) return nullptr;
        return slots_[slotAt(static_cast<std::size_t>(position))].member;
    }

    // The member under `key` (any letter case), or nullptr when there is none.
    Pointer item(std::string_view key) const {
        if (key.empty()) return nullptr;
        const auto found = index_.find(caseFold(key));
        return found == index_.end() ? nullptr : slots_[found->second].member;
    }

    // Throws Error OutOfRange when there is no member at `position`.
    void remove(int64_t position) {
        if (position < 1 || static_cast<uint64_t>(position) > members_) {
            throw Error(err::OutOfRange, "Subscript out of range");
        }
        removeSlot(slotAt(static_cast<std::size_t>(position)));
    }

    // Throws Error InvalidArgument when no member has `key`.
    void remove(std::string_view key) {
        const auto found = key.empty() ? index_.end() : index_.find(caseFold(key));
        if (found == index_.end())
            throw Error(err::InvalidArgument, "Invalid procedure call or argument");
        removeSlot(found->second);
    }

    void clear() {
        slots_.clear();
        index_.clear();
        positions_.reset(0);
        members_ = 0;
    }

    ConstIterator begin() const { return {slots_.data(), slots_.data() + slots_.size()}; }
    ConstIterator end() const {
        const Slot* end = slots_.data() + slots_.size();
        return {end, end};
    }

  private:
    std::size_t slotAt(std::size_t position) const {
        if (members_ == slots_.size()) return position - 1;
        return positions_.slotAt(position);
    }

    void removeSlot(std::size_t at) {
        Slot& slot = slots_[at];
        if (slot.key != nullptr) index_.erase(index_.find(slot.key->first));
        slot.key = nullptr;
        // Released last: the member's destructor must find the collection consistent.
        Pointer released = std::move(slot.member);
        positions_.retire(at);
        --members_;
        while (!slots_.empty() && !slots_.back().member) {
            slots_.pop_back();
            positions_.removeLast();
        }
        const std::size_t gaps = slots_.size() - members_;
        if (gaps > 32 && gaps > members_) squeezeOutGaps();
    }

    void squeezeOutGaps() {
        std::size_t to = 0;
        for (std::size_t from = 0; from < slots_.size(); ++from) {
            if (!slots_[from].member) continue;
            if (to != from) slots_[to] = std::move(slots_[from]);
            if (slots_[to].key != nullptr) slots_[to].key->second = to;
            ++to;
        }
        slots_.resize(to);
        positions_.reset(to);
    }

    std::vector<Slot> slots_;
    Index index_;
    PositionIndex positions_;
    std::size_t members_ = 0;
};

}  // namespace ovk
