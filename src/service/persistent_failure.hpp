// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.hpp"

namespace ovk {

// A service call that kept failing until its attempts ran out, told so that a user knows what
// is missing and that it was tried: "Article 4713 could not be fetched: the service answered
// 503 Service Unavailable to GetItemData 4 times." The text comes from the resource file in the
// user-interface language `languageId` (English when the file has none); the number and the
// source stay those of `failure`, which hosts may tell failures apart by.
Error PersistentFailure(int16_t languageId, const std::string& article,
                        const std::string& operation, int attempts, const Error& failure);

}  // namespace ovk
