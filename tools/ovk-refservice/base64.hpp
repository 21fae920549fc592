// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ovk::refservice {

// Length of the Base64 text (standard alphabet, "=" padding, no line breaks) of `size` bytes.
constexpr std::size_t base64Length(std::size_t size) {
    return (size + 2) / 3 * 4;
}

// How Base64 goes out. Many SOAP stacks send binary data as element text (xsd:base64Binary)
// rather than in a CDATA section, and several break it into lines as MIME encoders do.
struct Base64Layout {
    bool asText = false;          // element text instead of a CDATA section
    std::size_t lineLength = 0;   // CR LF after every this many characters; 0: one line
    bool spacedSections = false;  // a line break and indentation around each CDATA section
};

// Length of a Base64 text of `length` characters once it is broken into lines of
// `lineLength` (a break between lines, none after the last).
constexpr std::size_t wrappedLength(std::size_t length, std::size_t lineLength) {
    return lineLength == 0 || length == 0 ? length : length + 2 * ((length - 1) / lineLength);
}

// Breaks a Base64 text into lines as it streams past, whatever the pieces it comes in.
class LineBreaker {
  public:
    explicit LineBreaker(std::size_t lineLength) : lineLength_(lineLength) {}
    void append(std::string_view text, std::string& out);

  private:
    std::size_t lineLength_;
    std::size_t column_ = 0;
};

// Appends the Base64 text of `bytes` to `out`. Chunks whose sizes are multiples of 3 encode
// to one continuous text, which is how files are streamed.
void appendBase64(std::string& out, std::string_view bytes);

// Encodes into `out`, which must hold base64Length(size) characters.
void encodeBase64(const unsigned char* in, std::size_t size, char* out);

// Decodes a Base64 text; white space is skipped. Nothing for a character outside the
// alphabet or a text that ends in the middle of a group.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace ovk::refservice
