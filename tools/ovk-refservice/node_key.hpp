// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::refservice {

// One level of a tree node's path below the root: the field and the value chosen for it.
struct NodeLevel {
    int fieldId = 0;
    std::string value;
};

// Turns the Base64 node key a client sends ("0{}Catalog||3{}Motors||12{}AC" as Windows-1252
// bytes) into the levels below the root, in order. Gives nothing, with a reason in `error`,
// for a key that is not Base64 or not of that form.
std::optional<std::vector<NodeLevel>> decodeNodeKey(std::string_view base64Key, std::string& error);

// The same for a key already decoded to UTF-8 text.
std::optional<std::vector<NodeLevel>> parseNodeKey(std::string_view key, std::string& error);

}  // namespace ovk::refservice
