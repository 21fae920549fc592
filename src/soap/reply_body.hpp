// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "xml/markup_scanner.hpp"

namespace ovk::soap {

// A reply body as it arrives, sorted on the way into what the XML parser has to read and
// what it does not. libxml2 reads CDATA a byte at a time, twice, which for a payload of
// hundreds of megabytes takes longer than its transfer; yet the content of a large CDATA
// section made of printable ASCII (Base64, above all) is taken as it stands. So a section is
// read in place until it proves large (kSetApartFrom without its end); plain, its content
// then goes into an allocation of its own as it arrives, the parser reads the
// rest (the markup, with the section left empty in place), and the node made for the empty
// section takes the allocation over. Sections found small or holding anything else (line
// ends, other characters) go back into the markup whole, so that the parser sees them and
// every verdict and message stays what it is for the body as sent.
//
// One pass over the bytes while they are still in the cache: the ends of sections, comments
// and processing instructions are found with memchr, and nothing is moved but the first
// kSetApartFrom bytes of a section set apart. Every
// allocation comes from xmlMalloc (a section's becomes a node's content, freed by libxml2),
// sized from the announced length when there is one. Not advised onto huge pages: on a busy
// machine the kernel's compaction for them made a 200 MiB reply take three times as long.
class ReplyBody {
  public:
    // A section's content set apart: `at` is its place in the markup (just after
    // "<![CDATA["), `data` its NUL-terminated bytes, until a node takes them (nullptr then).
    struct Section {
        std::size_t at = 0;
        char* data = nullptr;
        std::size_t length = 0;
    };

    ReplyBody() = default;
    ~ReplyBody();
    ReplyBody(const ReplyBody&) = delete;
    ReplyBody& operator=(const ReplyBody&) = delete;

    // The length the service announced (Content-Length); a hint for sizing, never trusted.
    void expect(std::uint64_t length) { expected_ = length; }
    // Keeps the next piece. False when it cannot be kept (out of memory).
    bool append(const char* data, std::size_t size);
    // Ends the body: a section still open goes back into the markup, as sent. False when out
    // of memory.
    bool close();

    // Every byte received, set apart or not.
    std::uint64_t size() const { return received_; }
    // NUL-terminated once the body is closed.
    const char* markup() const { return markup_.data == nullptr ? "" : markup_.data; }
    std::size_t markupSize() const { return markup_.size; }
    // Hands the markup's allocation (xmlMalloc'd, at least markupSize() + 1 bytes) over.
    char* releaseMarkup();
    std::vector<Section>& sections() { return sections_; }

    // Content shorter than this stays in the markup: the parser copies it anyway.
    static constexpr std::size_t kSetApartFrom = std::size_t{64} << 10;

  private:
    struct Buffer {
        char* data = nullptr;
        std::size_t size = 0;
        std::size_t capacity = 0;
        bool reserve(std::size_t total);
        bool add(const char* bytes, std::size_t count);
        void release();
    };
    bool advance();
    bool worthSettingApart(std::size_t contentStart);
    bool startApart(std::size_t contentStart);
    std::size_t findApartEnd();
    bool endApart(std::size_t end);
    bool giveApartBack();

    Buffer markup_;
    Buffer apart_;  // the content of the section being set apart
    std::vector<Section> sections_;
    std::uint64_t expected_ = 0;
    std::uint64_t received_ = 0;
    // Finds the CDATA sections in the markup; the content of a section set apart is looked
    // through for its end alone.
    xml::MarkupScanner scanner_;
    bool settingApart_ = false;   // the bytes arriving go to apart_
    std::size_t scanAt_ = 0;      // how much of the markup the scanner has read
    std::size_t searchedTo_ = 0;  // how much of the section apart holds no "]]>" start
    // Where the content of the section read in place starts, while it may still be set apart.
    std::size_t cdataStart_ = static_cast<std::size_t>(-1);
    bool apartPlain_ = true;
    int readsInPlace_ = -1;  // unknown until the first section; then 0 or 1
};

// Whether libxml2 reads the text as UTF-8 without converting it: no byte order mark or
// signature of another encoding, and no declaration of another one. Converted input cannot be
// read in place (libxml2 then wants to add to the buffer it reads from). Unclear cases count
// as converted.
bool readsAsUtf8(std::string_view text);

}  // namespace ovk::soap
