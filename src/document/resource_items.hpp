// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk {

// One text of the resource file: the control it belongs to and its caption (absent when the
// item has no Caption attribute).
struct ResourceItem {
    std::string name;
    std::optional<std::string> caption;
};

// The items of the resource file's block for `languageText`, or of the English block 1033 when
// there is no such block. Nothing when the resource file is missing or cannot be read, or when
// neither block exists: the forms then keep their built-in captions.
std::optional<std::vector<ResourceItem>> LoadResourceItems(const std::string& languageText);

// The caption of the item `name` for `languageId` (or 1033 where that language has no block),
// with every "@#@" replaced by `insert`; `fallback` when the resource file lacks the item or
// its caption is empty, so that a host always gets a text.
std::string ResourceText(int16_t languageId, std::string_view name, std::string_view fallback,
                         std::string_view insert = {});

}  // namespace ovk
