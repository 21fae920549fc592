// SPDX-License-Identifier: MIT
#include "util/download_items.hpp"

namespace ovk {

std::shared_ptr<DownloadItem> DownloadItems::Add(std::string ID, std::string_view sKey) {
    auto item = std::make_shared<DownloadItem>();
    item->setID(std::move(ID));
    members_.add(item, sKey);
    return item;
}

}  // namespace ovk
