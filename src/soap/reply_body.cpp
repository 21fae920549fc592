// SPDX-License-Identifier: MIT
#include "soap/reply_body.hpp"

#include <libxml/encoding.h>
#include <libxml/xmlmemory.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/text.hpp"
#include "xml/markup_scanner.hpp"

namespace ovk::soap {

namespace {

constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();
constexpr std::string_view kCdataOpener = "<![CDATA[";
constexpr std::string_view kCdataCloser = "]]>";
// A buffer's first allocation when no length was announced; it doubles from there.
constexpr std::size_t kFirstCapacity = std::size_t{16} << 10;

// Whether libxml2 takes these bytes as CDATA content exactly as they are: printable ASCII and
// tabs. Line ends are left to the parser, which counts them for its messages. Sixteen bytes at
// a time where the processor has SSE2: as signed bytes, 0x80 and above are negative, so one
// comparison with 0x1F finds both kinds of byte the parser must see.
bool plainAscii(const char* text, std::size_t size) {
    const auto plain = [](unsigned char c) { return (c >= 0x20 && c < 0x80) || c == '\t'; };
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i control = _mm_set1_epi8(0x1F);
    const __m128i tab = _mm_set1_epi8('\t');
    for (; at + 16 <= size; at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        const __m128i fine = _mm_or_si128(_mm_cmpgt_epi8(v, control), _mm_cmpeq_epi8(v, tab));
        if (_mm_movemask_epi8(fine) != 0xFFFF) return false;
    }
#endif
    for (; at < size; ++at) {
        if (!plain(static_cast<unsigned char>(text[at]))) return false;
    }
    return true;
}

}  // namespace

bool ReplyBody::Buffer::reserve(std::size_t total) {
    if (total <= capacity) return true;
    auto* grown = static_cast<char*>(xmlRealloc(data, total));
    if (grown == nullptr) return false;
    data = grown;
    capacity = total;
    return true;
}

// Keeps room for a terminating NUL: a section's buffer becomes a node's text as it is.
bool ReplyBody::Buffer::add(const char* bytes, std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / 4 - size) return false;
    if (size + count + 1 > capacity) {
        if (!reserve(std::max({size + count + 1, capacity * 2, kFirstCapacity}))) return false;
    }
    if (count > 0) std::memcpy(data + size, bytes, count);
    size += count;
    return true;
}

void ReplyBody::Buffer::release() {
    xmlFree(data);
    *this = Buffer{};
}

ReplyBody::~ReplyBody() {
    markup_.release();
    apart_.release();
    for (Section& section : sections_) xmlFree(section.data);
}

char* ReplyBody::releaseMarkup() {
    char* data = markup_.data;
    markup_ = Buffer{};
    return data;
}

bool ReplyBody::append(const char* data, std::size_t size) {
    // Only a hint: without the room the buffer grows as it fills.
    if (received_ == 0 && expected_ > 0 && expected_ < std::numeric_limits<std::size_t>::max() / 4)
        markup_.reserve(static_cast<std::size_t>(expected_) + 1);
    received_ += size;
    if (!(settingApart_ ? apart_ : markup_).add(data, size)) return false;
    // No section read in place can prove large before the markup holds kSetApartFrom bytes;
    // until then the scan waits, and a small reply is never scanned at all. It catches up in
    // one go and comes to where it would have come piece by piece.
    if (!settingApart_ && markup_.size < kSetApartFrom) return true;
    return advance();
}

bool ReplyBody::close() {
    if (settingApart_) {
        if (!markup_.add(apart_.data, apart_.size)) return false;
        settingApart_ = false;
    }
    apart_.release();
    // libxml2 reads a buffer in place up to a NUL in places (an unclosed comment), whatever
    // length it was given; what lies past the markup may be content set apart since.
    if (markup_.data != nullptr) markup_.data[markup_.size] = '\0';
    return true;
}

// Reads on from where the last piece ended.
bool ReplyBody::advance() {
    while (true) {
        if (settingApart_) {
            const std::size_t end = findApartEnd();
            if (!apartPlain_) {
                if (!giveApartBack()) return false;
                continue;
            }
            if (end == kNotFound) return true;
            if (!endApart(end)) return false;
            continue;
        }
        if (scanAt_ >= markup_.size) return true;
        scanner_.feed(std::string_view(markup_.data + scanAt_, markup_.size - scanAt_));
        scanAt_ = markup_.size;
        xml::MarkupScanner::Piece piece;
        while (scanner_.next(piece)) {
            if (piece.kind != xml::MarkupScanner::Kind::Cdata) continue;
            if (piece.starts)
                cdataStart_ = worthSettingApart(piece.offset) ? piece.offset : kNotFound;
            if (piece.ends) cdataStart_ = kNotFound;
        }
        // A section read in place until it proves large; plain, it is set apart from here on.
        // Small sections, the usual kind, thus cost nothing extra.
        if (cdataStart_ == kNotFound || markup_.size - cdataStart_ < kSetApartFrom) return true;
        const std::size_t start = std::exchange(cdataStart_, kNotFound);
        if (!plainAscii(markup_.data + start, markup_.size - start)) return true;
        if (!startApart(start)) return false;
    }
}

// Only where the parser will read the markup in place. The announced length does not decide:
// it counts the bytes on the wire, which a compressed reply multiplies.
bool ReplyBody::worthSettingApart(std::size_t contentStart) {
    if (readsInPlace_ < 0) {
        const std::size_t opening = contentStart - kCdataOpener.size();
        readsInPlace_ = readsAsUtf8(std::string_view(markup_.data, opening)) ? 1 : 0;
    }
    return readsInPlace_ == 1;
}

bool ReplyBody::startApart(std::size_t contentStart) {
    const std::size_t already = markup_.size - contentStart;
    const std::uint64_t coming = expected_ > received_ ? expected_ - received_ : 0;
    if (coming + already < std::numeric_limits<std::size_t>::max() / 4)
        apart_.reserve(static_cast<std::size_t>(coming + already) + 1);
    apart_.size = 0;
    if (!apart_.add(markup_.data + contentStart, already)) return false;
    markup_.size = contentStart;
    settingApart_ = true;
    // What was read in place holds no end and is plain; "]]" at its very end may begin one.
    searchedTo_ = already - std::min<std::size_t>(already, 2);
    apartPlain_ = true;
    return true;
}

// The end of the section apart, or kNotFound while it has not arrived. Checks the content up to
// where it has looked: Base64 has no "]", so memchr runs through it at full speed.
std::size_t ReplyBody::findApartEnd() {
    const char* text = apart_.data;
    const std::size_t size = apart_.size;
    std::size_t from = searchedTo_;
    std::size_t end = kNotFound;
    while (from < size) {
        const void* bracket = std::memchr(text + from, ']', size - from);
        if (bracket == nullptr) {
            from = size;
            break;
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(bracket) - text);
        if (size - at < 3) {
            from = at;
            break;
        }
        if (text[at + 1] == ']' && text[at + 2] == '>') {
            end = at;
            from = at;
            break;
        }
        from = at + 1;
    }
    if (apartPlain_) apartPlain_ = plainAscii(text + searchedTo_, from - searchedTo_);
    searchedTo_ = from;
    return end;
}

// The section ends at `end` in its buffer; what follows goes back into the markup. A section
// worth it keeps its buffer, every other one goes back whole.
bool ReplyBody::endApart(std::size_t end) {
    const char* tail = apart_.data + end;
    const std::size_t tailSize = apart_.size - end;
    if (apartPlain_ && end >= kSetApartFrom) {
        const std::size_t at = markup_.size;
        if (!markup_.add(tail, tailSize)) return false;
        char* content = apart_.data;
        content[end] = '\0';
        // Gives back the room reserved for the rest of the reply.
        if (auto* fitted = static_cast<char*>(xmlRealloc(content, end + 1))) content = fitted;
        apart_ = Buffer{};
        sections_.push_back(Section{at, content, end});
        scanAt_ = at;
    } else {
        if (!markup_.add(apart_.data, apart_.size)) return false;
        scanAt_ = markup_.size - tailSize;
        apart_.size = 0;
    }
    // The scan goes on after the section's end.
    scanAt_ += kCdataCloser.size();
    scanner_.resumeAt(scanAt_);
    settingApart_ = false;
    return true;
}

// A section that holds anything but plain ASCII is the parser's to read: what arrived of it
// goes back into the markup at once, and the rest follows there, so that a bad reply never
// holds its bytes twice.
bool ReplyBody::giveApartBack() {
    const std::size_t contentStart = markup_.size;
    if (!markup_.add(apart_.data, apart_.size)) return false;
    apart_.release();
    settingApart_ = false;
    // Where the search for the section's end stopped, the scan takes it up, inside the section.
    scanAt_ = contentStart + searchedTo_;
    scanner_.resumeAt(scanAt_, xml::MarkupScanner::Kind::Cdata);
    return true;
}

bool readsAsUtf8(std::string_view text) {
    if (text.size() >= 4) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const xmlCharEncoding detected = xmlDetectCharEncoding(bytes, 4);
        if (detected != XML_CHAR_ENCODING_NONE && detected != XML_CHAR_ENCODING_UTF8) return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.substr(0, 5) != "<?xml") return true;
    const std::size_t end = text.find("?>");
    if (end == std::string_view::npos || end > 1024) return false;
    const std::string_view declaration = text.substr(0, end);
    const std::size_t name = declaration.find("encoding");
    if (name == std::string_view::npos) return true;
    const std::size_t quote = declaration.find_first_of("\"'", name);
    if (quote == std::string_view::npos) return false;
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string_view::npos) return false;
    const std::string_view encoding = declaration.substr(quote + 1, close - quote - 1);
    return equalsIgnoringAsciiCase(encoding, "UTF-8") || equalsIgnoringAsciiCase(encoding, "UTF8");
}

}  // namespace ovk::soap
