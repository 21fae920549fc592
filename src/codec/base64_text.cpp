// SPDX-License-Identifier: MIT
#include "codec/base64_text.hpp"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "codec/ascii_bytes.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

enum CharClass : uint8_t { kDigit, kSpace, kForeign };

// "=" counts as a digit here: where it may stand is the decoder's business.
constexpr std::array<uint8_t, 256> kClasses = [] {
    std::array<uint8_t, 256> classes{};
    classes.fill(kForeign);
    for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kDigit;
    for (int c = 'a'; c <= 'z'; ++c) classes[c] = kDigit;
    for (int c = '0'; c <= '9'; ++c) classes[c] = kDigit;
    classes['+'] = classes['/'] = classes['='] = kDigit;
    classes['\r'] = classes['\n'] = classes[' '] = classes['\t'] = kSpace;
    return classes;
}();

// Decoded a piece at a time, a text holds this many characters in memory beside the file: a
// multiple of four, so that a text without white space splits into whole groups.
constexpr std::size_t kPieceChars = std::size_t{4} << 20;

// The digits, once the white space is out, are not whole groups with "=" only at their end.
struct NotWholeGroups {};

[[noreturn]] void throwForeign(std::string_view text, std::size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::string shown = c > 0x20 && c < 0x7f
                                  ? "\"" + std::string(1, static_cast<char>(c)) + "\""
                                  : "the character code " + std::to_string(c);
    throw Error(err::InvalidArgument, "The Base64 text holds " + shown + " at offset " +
                                          std::to_string(at) +
                                          ", which is neither a Base64 digit nor white space");
}

// Appends the digits of text[from, to) to `digits`, checking every character.
void appendDigitsChecked(std::string_view text, std::size_t from, std::size_t to,
                         std::vector<uint8_t>& digits) {
    const std::size_t had = digits.size();
    digits.resize(had + (to - from));
    uint8_t* out = digits.data() + had;
    for (std::size_t at = from; at < to; ++at) {
        const auto c = static_cast<uint8_t>(text[at]);
        const uint8_t kind = kClasses[c];
        *out = c;
        out += kind == kDigit;
        if (kind == kForeign) throwForeign(text, at);
    }
    digits.resize(static_cast<std::size_t>(out - digits.data()));
}

// Appends `raw` to `digits` with its line ends taken out, a line at a time: in wrapped text
// they are the only white space, and copying whole lines keeps to the speed of memcpy. Any
// other character is copied as it is, for the decoder to refuse.
void appendLines(std::string_view raw, std::vector<uint8_t>& digits) {
    const std::size_t had = digits.size();
    digits.resize(had + raw.size());
    uint8_t* out = digits.data() + had;
    const char* at = raw.data();
    const char* const end = raw.data() + raw.size();
    while (at < end) {
        const auto* lineEnd = static_cast<const char*>(std::memchr(at, '\n', end - at));
        const char* next = lineEnd == nullptr ? end : lineEnd + 1;
        const char* stop = lineEnd == nullptr ? end : lineEnd;
        if (stop > at && stop[-1] == '\r') --stop;
        std::memcpy(out, at, static_cast<std::size_t>(stop - at));
        out += stop - at;
        at = next;
    }
    digits.resize(static_cast<std::size_t>(out - digits.data()));
}

// Decodes the whole groups of `digits` into `bytes` and moves the rest into `carry` (all of
// it belongs to the last piece). False when they are not digits, or hold "=" before the end.
bool decodeGroups(std::vector<uint8_t>& digits, bool last, std::vector<uint8_t>& carry,
                  const Encoding& encoding, ByteBuffer& bytes) {
    const std::size_t keep = last ? 0 : digits.size() % 4;
    carry.assign(digits.end() - static_cast<std::ptrdiff_t>(keep), digits.end());
    digits.resize(digits.size() - keep);
    if (digits.empty()) {
        bytes.resize(0);
        return true;
    }
    if (!last && digits.back() == '=') return false;
    return encoding.DecodeB64Digits(digits, bytes);
}

void decodeInPieces(std::string_view text, const Encoding& encoding, const Base64Sink& write) {
    ByteBuffer bytes;
    std::vector<uint8_t> digits;
    std::vector<uint8_t> carry;
    std::vector<uint8_t> carryBefore;
    for (std::size_t at = 0; at < text.size(); at += kPieceChars) {
        const std::string_view raw = text.substr(at, kPieceChars);
        const bool last = at + raw.size() == text.size();
        // Text in one line, the usual case, is decoded where it lies.
        if (carry.empty() && raw.size() % 4 == 0 && (last || raw.back() != '=') &&
            encoding.DecodeB64Digits(codec_detail::asBytes(raw), bytes)) {
            write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            continue;
        }
        carryBefore = carry;
        digits = carry;
        appendLines(raw, digits);
        if (!decodeGroups(digits, last, carry, encoding, bytes)) {
            // Blanks or tabs inside lines, or a character that is no digit: every character
            // is looked at, the first foreign one is named.
            digits = carryBefore;
            appendDigitsChecked(text, at, at + raw.size(), digits);
            if (!decodeGroups(digits, last, carry, encoding, bytes)) throw NotWholeGroups{};
        }
        if (bytes.size() > 0)
            write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
}

}  // namespace

void DecodeBase64Text(std::string_view text, const Encoding& encoding,
                      const Base64FileReplacer& replace) {
    try {
        replace([&](const Base64Sink& write) { decodeInPieces(text, encoding, write); });
        return;
    } catch (const NotWholeGroups&) {
        // Nothing was written: the file is made from the whole text below.
    }
    std::vector<uint8_t> digits;
    appendDigitsChecked(text, 0, text.size(), digits);
    std::vector<uint8_t> bytes;
    encoding.DecodeB64(digits, bytes);
    replace([&](const Base64Sink& write) {
        write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    });
}

}  // namespace ovk
