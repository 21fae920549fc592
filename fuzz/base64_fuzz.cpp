// SPDX-License-Identifier: MIT
// The Base64 codec against a small reference decoder on well-formed text and a round trip of
// any bytes; malformed text must decode without failing, and line breaking must stay safe.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "codec/base64_text.hpp"
#include "codec/encoding.hpp"
#include "ovk/error.hpp"

namespace {

// Canonical Base64 only (length a multiple of four, "=" only as padding at the end, unused bits
// zero); nothing for anything else.
std::optional<std::vector<std::uint8_t>> referenceDecode(std::span<const std::uint8_t> text) {
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        std::uint32_t group = 0;
        int padding = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint8_t c = text[at + i];
            std::size_t value = 0;
            if (c == '=' && last && i >= 2) {
                ++padding;
            } else if (padding > 0 ||
                       (value = alphabet.find(static_cast<char>(c))) == std::string_view::npos) {
                return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(group));
    }
    return out;
}

// What DecodeBase64Text gives: a clear error for a foreign character, else exactly what
// DecodeB64 makes of the text without its white space.
std::optional<std::vector<std::uint8_t>> decodedText(std::span<const std::uint8_t> text) {
    static const ovk::Encoding encoding;
    std::vector<std::uint8_t> out;
    try {
        ovk::DecodeBase64Text(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), encoding,
            [&](const auto& produce) {
                out.clear();
                produce([&](std::string_view bytes) {
                    out.insert(out.end(), bytes.begin(), bytes.end());
                });
            });
    } catch (const ovk::Error&) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ovk::Encoding encoding;
    const std::span<const std::uint8_t> input(data, size);

    std::vector<std::uint8_t> decoded;
    encoding.DecodeB64(input, decoded);  // never throws, whatever the text
    if (const auto expected = referenceDecode(input); expected && *expected != decoded)
        std::abort();
    std::vector<std::uint8_t> digits;
    bool foreign = false;
    for (const std::uint8_t c : input) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        foreign = foreign || !(std::isalnum(c) != 0 || c == '+' || c == '/' || c == '=');
        digits.push_back(c);
    }
    std::vector<std::uint8_t> fromDigits;
    encoding.DecodeB64(digits, fromDigits);
    if (const auto text = decodedText(input); text ? foreign || *text != fromDigits : !foreign)
        std::abort();

    if (size > 0) {
        std::vector<std::uint8_t> encoded;
        encoding.EncodeB64(input, encoded);
        std::vector<std::uint8_t> back;
        encoding.DecodeB64(encoded, back);
        if (back != std::vector<std::uint8_t>(input.begin(), input.end())) std::abort();

        // Line breaking keeps the layout the component always wrote (its padding and rounding
        // included), so only its safety is checked here.
        std::vector<std::uint8_t> spanned, unspanned;
        encoding.Span(1 + data[0] % 80, encoded, spanned);
        encoding.Unspan(spanned, unspanned);
        // Wrapped into lines, as MIME encoders send it, the text still gives back the bytes.
        std::vector<std::uint8_t> wrapped;
        for (std::size_t at = 0; at < encoded.size(); at += 1 + data[0] % 80) {
            const std::size_t line = std::min<std::size_t>(1 + data[0] % 80, encoded.size() - at);
            wrapped.insert(wrapped.end(), encoded.begin() + static_cast<std::ptrdiff_t>(at),
                           encoded.begin() + static_cast<std::ptrdiff_t>(at + line));
            wrapped.insert(wrapped.end(), {'\r', '\n'});
        }
        if (decodedText(wrapped) != std::vector<std::uint8_t>(input.begin(), input.end()))
            std::abort();
    }
    return 0;
}
