// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <ranges>
#include <string>
#include <string_view>

#include "util/download_item.hpp"
#include "util/ordered_keyed_collection.hpp"

namespace ovk {

// The download list: the articles the user has marked, in the order of marking, each under
// the key "ID_" + its identifier. See OrderedKeyedCollection for how positions and keys work.
class DownloadItems {
  public:
    using Collection = OrderedKeyedCollection<DownloadItem>;

    DownloadItems() = default;
    DownloadItems(const DownloadItems&) = delete;
    DownloadItems& operator=(const DownloadItems&) = delete;

    // Adds a new member with `ID`, under `sKey` unless it is empty, and returns it. Throws
    // Error DuplicateKey, changing nothing, when the key is taken.
    std::shared_ptr<DownloadItem> Add(std::string ID, std::string_view sKey = {});
    // The member at a position (from 1) or under a key, or nullptr when there is none.
    std::shared_ptr<DownloadItem> Item(int32_t position) const { return members_.item(position); }
    std::shared_ptr<DownloadItem> Item(std::string_view key) const { return members_.item(key); }
    int32_t Count() const { return static_cast<int32_t>(members_.size()); }
    // Throws Error when there is no such member (OutOfRange for a position, InvalidArgument
    // for a key).
    void Remove(int32_t position) { members_.remove(position); }
    void Remove(std::string_view key) { members_.remove(key); }
    // The members from position 1 to the last.
    std::ranges::subrange<Collection::ConstIterator> NewEnum() const {
        return {members_.begin(), members_.end()};
    }

    Collection::ConstIterator begin() const { return members_.begin(); }
    Collection::ConstIterator end() const { return members_.end(); }

  private:
    Collection members_;
};

}  // namespace ovk
