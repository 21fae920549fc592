// SPDX-License-Identifier: MIT
#include "document/resource_items.hpp"

#include "document/client_resources.hpp"
#include "document/resource_language_block.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "xml/document.hpp"

namespace ovk {
std::optional<std::vector<ResourceItem>> LoadResourceItems(const std::string& languageText) {
    if (!FileExistsInAppPath(kResourceFileName)) return std::nullopt;
    try {
        const auto resources = xml::Document::loadFile(files::inComponentDir(kResourceFileName));
        xml::Node block = findResourceLanguageBlock(resources, languageText);
        if (!block) block = findResourceLanguageBlock(resources, std::to_string(kFallbackLanguage));
        if (!block) return std::nullopt;
        std::vector<ResourceItem> items;
        for (const xml::Node& item : block.childElements()) {
            items.push_back(
                {item.attribute("Name").value_or(std::string()), item.attribute("Caption")});
        }
        return items;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::string ResourceText(int16_t languageId, std::string_view name, std::string_view fallback,
                         std::string_view insert) {
    std::string text(fallback);
    if (const auto items = LoadResourceItems(std::to_string(languageId))) {
        for (const ResourceItem& item : *items) {
            if (item.name == name && item.caption && !item.caption->empty()) {
                text = *item.caption;
                break;
            }
        }
    }
    constexpr std::string_view kPlaceholder = "@#@";
    for (std::size_t at = text.find(kPlaceholder); at != std::string::npos;
         at = text.find(kPlaceholder, at + insert.size()))
        text.replace(at, kPlaceholder.size(), insert);
    return text;
}

}  // namespace ovk
