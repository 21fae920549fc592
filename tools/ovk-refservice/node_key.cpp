// SPDX-License-Identifier: MIT
#include "node_key.hpp"

#include <charconv>

#include "base64.hpp"
#include "platform/codepage.hpp"

namespace ovk::refservice {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// True when `key` continues at `pos` with digits and then "{}": the start of a level. The
// separators are only taken where a level starts, so a value that holds "||" or "{}" itself
// does not cut the path in the wrong place.
bool levelStartsAt(std::string_view key, std::size_t pos) {
    std::size_t i = pos;
    while (i < key.size() && isDigit(key[i])) ++i;
    return i > pos && key.compare(i, 2, "{}") == 0;
}

}  // namespace

std::optional<std::vector<NodeLevel>> parseNodeKey(std::string_view key, std::string& error) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < key.size(); ++i) {
        if (key[i] == '|' && key[i + 1] == '|' && levelStartsAt(key, i + 2)) {
            segments.push_back(key.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    segments.push_back(key.substr(start));

    if (segments.front().find("{}") == std::string_view::npos) {
        error = "the node key has no root";
        return std::nullopt;
    }
    std::vector<NodeLevel> levels;
    for (std::size_t s = 1; s < segments.size(); ++s) {
        const std::string_view segment = segments[s];
        const std::size_t mark = segment.find("{}");
        NodeLevel level;
        const auto [end, ec] =
            std::from_chars(segment.data(), segment.data() + mark, level.fieldId);
        if (ec != std::errc() || end != segment.data() + mark) {
            error = "the node key has a level without a field identifier";
            return std::nullopt;
        }
        level.value = std::string(segment.substr(mark + 2));
        levels.push_back(std::move(level));
    }
    return levels;
}

std::optional<std::vector<NodeLevel>> decodeNodeKey(std::string_view base64Key,
                                                    std::string& error) {
    const auto bytes = decodeBase64(base64Key);
    if (!bytes) {
        error = "the node key is not Base64";
        return std::nullopt;
    }
    return parseNodeKey(fromAnsi(*bytes), error);
}

}  // namespace ovk::refservice
