// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string_view>

namespace ovk::refservice {

// The service description as shipped in data/, with its placeholder address.
std::string_view embeddedServiceDescription();

// The banner picture (a JPEG) of the sample catalogue, for catalogues that name none.
std::string_view embeddedBannerPicture();

}  // namespace ovk::refservice
