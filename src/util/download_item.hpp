// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ovk {

// One article the user has marked for download.
class DownloadItem {
  public:
    // The article identifier as the service gave it in the article list, stored unchanged.
    void setID(std::string id) { id_ = std::move(id); }
    const std::string& ID() const { return id_; }

  private:
    std::string id_;
};

}  // namespace ovk
