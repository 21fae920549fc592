// SPDX-License-Identifier: MIT
#include "service/released_texts.hpp"

#include <libxml/tree.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ranges>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"

namespace ovk {
namespace {

constexpr std::size_t kIndexDigits = 16;
constexpr std::size_t kBlock = std::size_t{4} << 20;

Error unreadable(const std::string& why) {
    return Error(err::DeviceIo,
                 "The documents saved so far cannot be read back from the download file: " + why);
}

}  // namespace

ReleasedTexts::ReleasedTexts() {
    // Random, so that no text of the document can pass for a stand-in.
    prefix_ = unguessableName("ovk-text-") + "-";
}

std::string ReleasedTexts::token(std::size_t index) const {
    char digits[kIndexDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(index));
    return prefix_ + digits;
}

void ReleasedTexts::standIn(xmlNode* first) {
    // Only items: the next download removes them from the document before its first save,
    // so no stand-in outlives the file its text lives in (Finish replaces that file).
    std::vector<xmlNode*> pending;
    for (xmlNode* node = first; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE &&
            equalsIgnoringAsciiCase(reinterpret_cast<const char*>(node->name), "Articleinfo")) {
            pending.push_back(node);
        }
    }
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlNode* child = node->children; child != nullptr; child = child->next)
                pending.push_back(child);
            continue;
        }
        if (node->type != XML_CDATA_SECTION_NODE || node->content == nullptr ||
            node->content == reinterpret_cast<xmlChar*>(&node->properties)) {
            continue;
        }
        // The length, and whether "]]>" occurs, in one pass: Base64 holds no "]" at all.
        const auto* content = reinterpret_cast<const char*>(node->content);
        const char* end = content;
        bool holdsSectionEnd = false;
        while (*(end = ::strchrnul(end, ']')) != '\0') {
            if (end[1] == ']' && end[2] == '>') holdsSectionEnd = true;
            ++end;
        }
        const auto length = static_cast<std::size_t>(end - content);
        if (length < kReleasedFrom || holdsSectionEnd) continue;
        if (node->doc != nullptr && node->doc->dict != nullptr &&
            xmlDictOwns(node->doc->dict, node->content)) {
            continue;
        }
        const std::string standIn = token(locations_.size());
        xmlChar* replacement = xmlStrndup(reinterpret_cast<const xmlChar*>(standIn.data()),
                                          static_cast<int>(standIn.size()));
        if (replacement == nullptr) throw Error(err::OutOfMemory, "Out of memory");
        held_.push_back(Held{node, node->content, locations_.size(), length});
        locations_.push_back(Location{});
        node->content = replacement;
    }
}

std::string ReleasedTexts::written(off_t offset, std::uint64_t length, bool section) {
    Location location;
    location.written = offset;
    location.length = length;
    location.section = section;
    locations_.push_back(location);
    return token(locations_.size() - 1);
}

void ReleasedTexts::commit(bool newFile) {
    for (const Held& held : held_) xmlFree(held.content);
    held_.clear();
    if (newFile) ++file_;
    for (Location& location : locations_) {
        if (location.written < 0) continue;
        location.offset = location.written;
        location.written = -1;
        location.file = file_;
    }
}

void ReleasedTexts::restore() {
    for (const auto& held : std::views::reverse(held_)) {
        xmlFree(held.node->content);
        held.node->content = held.content;
        locations_[held.index] = Location{};
    }
    held_.clear();
    for (Location& location : locations_) location.written = -1;
}

std::vector<CDataStandIns::Range> ReleasedTexts::sections() const {
    std::vector<CDataStandIns::Range> sections;
    for (const Location& location : locations_) {
        if (location.offset >= 0 && location.file == file_ && location.section)
            sections.push_back({location.offset, location.length});
    }
    std::ranges::sort(sections, {}, &CDataStandIns::Range::offset);
    return sections;
}

void ReleasedTexts::Filter::put(std::string_view bytes) {
    const std::size_t tokenSize = texts_.prefix_.size() + kIndexDigits;
    std::string joined;
    std::string_view data = bytes;
    if (!carry_.empty()) {
        joined = std::move(carry_);
        joined.append(bytes);
        data = joined;
        carry_.clear();
    }
    std::size_t from = 0;
    while (from < data.size()) {
        const std::size_t at = data.find(texts_.prefix_, from);
        if (at == std::string_view::npos || at + tokenSize > data.size()) {
            // A stand-in may begin in the last bytes and end in the next piece.
            const std::size_t keep = at != std::string_view::npos
                                         ? data.size() - at
                                         : std::min(data.size() - from, tokenSize - 1);
            out_.literal(data.substr(from, data.size() - from - keep));
            carry_ = std::string(data.substr(data.size() - keep));
            return;
        }
        out_.literal(data.substr(from, at - from));
        const std::string digits(data.substr(at + texts_.prefix_.size(), kIndexDigits));
        char* end = nullptr;
        const auto index = static_cast<std::size_t>(std::strtoull(digits.c_str(), &end, 16));
        if (end != digits.c_str() + kIndexDigits || index >= texts_.locations_.size()) {
            out_.literal(data.substr(at, tokenSize));
        } else {
            text(index);
        }
        from = at + tokenSize;
    }
}

void ReleasedTexts::Filter::finish() {
    out_.literal(carry_);
    carry_.clear();
}

void ReleasedTexts::Filter::text(std::size_t index) {
    Location& location = texts_.locations_[index];
    const off_t at = out_.offset();
    const auto held = std::find_if(texts_.held_.begin(), texts_.held_.end(),
                                   [&](const Held& h) { return h.index == index; });
    if (held != texts_.held_.end()) {
        out_.verbatim(std::string_view(reinterpret_cast<const char*>(held->content), held->length));
        location.length = held->length;
        location.written = at;
        return;
    }
    if (previous_ < 0 || location.offset < 0) throw unreadable("the file is gone");
    // The text must still stand where the last save put it, as a whole CDATA section.
    char before[9];
    char after[3];
    if (location.section &&
        (location.offset < 9 || files::readAt(previous_, before, 9, location.offset - 9) != 0 ||
         files::readAt(previous_, after, 3,
                       location.offset + static_cast<off_t>(location.length)) != 0 ||
         std::memcmp(before, "<![CDATA[", 9) != 0 || std::memcmp(after, "]]>", 3) != 0)) {
        throw unreadable("another program changed the file");
    }
    std::string& block = block_;
    if (block.size() < std::min<std::uint64_t>(location.length, kBlock))
        block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(location.length, kBlock)));
    for (std::uint64_t done = 0; done < location.length;) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(location.length - done, kBlock));
        const int errnum = files::readAt(previous_, block.data(), size,
                                         location.offset + static_cast<off_t>(done));
        if (errnum != 0) throw unreadable(std::strerror(errnum));
        out_.verbatim(std::string_view(block.data(), size));
        done += size;
    }
    location.written = at;
}

}  // namespace ovk
