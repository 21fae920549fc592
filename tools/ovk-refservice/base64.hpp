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

// Appends the Base64 text of `bytes` to `out`. Chunks whose sizes are multiples of 3 encode
// to one continuous text, which is how files are streamed.
void appendBase64(std::string& out, std::string_view bytes);

// Encodes into `out`, which must hold base64Length(size) characters.
void encodeBase64(const unsigned char* in, std::size_t size, char* out);

// Decodes a Base64 text; white space is skipped. Nothing for a character outside the
// alphabet or a text that ends in the middle of a group.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace ovk::refservice
