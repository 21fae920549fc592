// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace ovk {

// The form of a UTF-8 text in which texts that differ only in letter case are equal: "ID_abc",
// "ID_ABC" and "id_Abc" fold alike, and so do "ID_Länge" and "ID_LÄNGE". Covers the letters of
// the Latin, Greek and Cyrillic scripts that catalog texts use; bytes that are not valid UTF-8
// are kept as they are.
std::string caseFold(std::string_view utf8);

}  // namespace ovk
