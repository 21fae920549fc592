// SPDX-License-Identifier: MIT
#include "codec/base64_stream.hpp"

#include <array>
#include <cstring>
#include <string>

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

// A piece is decoded at a time, so that a text handed over whole holds no more than this
// beside it in memory.
constexpr std::size_t kPieceChars = std::size_t{4} << 20;

[[noreturn]] void throwForeign(unsigned char c, std::uint64_t offset) {
    const std::string shown = c > 0x20 && c < 0x7f
                                  ? "\"" + std::string(1, static_cast<char>(c)) + "\""
                                  : "the character code " + std::to_string(c);
    throw Error(err::InvalidArgument, "The Base64 text holds " + shown + " at offset " +
                                          std::to_string(offset) +
                                          ", which is neither a Base64 digit nor white space");
}

// Appends the digits of `text` to `digits`, checking every character; `offset` is where the
// text starts in the whole one.
void appendDigitsChecked(std::string_view text, std::uint64_t offset,
                         std::vector<uint8_t>& digits) {
    const std::size_t had = digits.size();
    digits.resize(had + text.size());
    uint8_t* out = digits.data() + had;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<uint8_t>(text[at]);
        const uint8_t kind = kClasses[c];
        *out = c;
        out += kind == kDigit;
        if (kind == kForeign) throwForeign(c, offset + at);
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

bool allDigits(const uint8_t* at, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (kClasses[at[i]] != kDigit) return false;
    return true;
}

// The last group and any part of one after it: the end of the text decides their bytes (the
// padding it ends in, the length DecodeB64 gives the whole).
std::size_t heldBack(std::size_t digits) {
    return std::min(digits, 4 + digits % 4);
}

}  // namespace

Base64TextDecoder::Base64TextDecoder(const Encoding& encoding, const Sink& sink)
    : encoding_(encoding), sink_(sink) {}

void Base64TextDecoder::feed(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); at += kPieceChars)
        feedPiece(text.substr(at, kPieceChars));
}

void Base64TextDecoder::feedPiece(std::string_view piece) {
    const std::size_t had = digits_.size();
    // Text in lines of plain digits, the usual case, is copied a line at a time and checked
    // by the decoder itself.
    if (!ended_) {
        appendLines(piece, digits_);
        if (releaseGroups()) {
            offset_ += piece.size();
            return;
        }
        digits_.resize(had);
    }
    // Blanks or tabs inside lines, "=" before the end, or a character that is no digit: every
    // character is looked at, the first foreign one is named.
    appendDigitsChecked(piece, offset_, digits_);
    offset_ += piece.size();
    if (ended_ || !releaseGroups()) releaseSlowly();
}

bool Base64TextDecoder::releaseGroups() {
    const std::size_t size = digits_.size();
    const std::size_t ready = size - heldBack(size);
    if (!allDigits(digits_.data() + ready, size - ready)) return false;
    if (ready == 0) return true;
    if (digits_[ready - 1] == '=') return false;
    if (!encoding_.DecodeB64Digits(std::span(digits_.data(), ready), bytes_)) return false;
    emit(bytes_.data(), bytes_.size());
    digits_.erase(digits_.begin(), digits_.begin() + static_cast<std::ptrdiff_t>(ready));
    dropped_ += ready;
    return true;
}

// Digits that are all checked, with "=" somewhere before the last group. A group holding "="
// decodes as it does inside a whole text (DecodeB64 of it and a plain group gives its three
// bytes); one with "=" in its third or fourth place ends the decoding there.
void Base64TextDecoder::releaseSlowly() {
    const std::size_t size = digits_.size();
    const std::size_t ready =
        ended_ ? size - std::min<std::size_t>(size, 2) : size - heldBack(size);
    for (std::size_t g = 0; g < ready && !ended_;) {
        const auto* equals =
            static_cast<const uint8_t*>(std::memchr(digits_.data() + g, '=', ready - g));
        const std::size_t plainEnd =
            equals == nullptr ? ready : static_cast<std::size_t>(equals - digits_.data()) / 4 * 4;
        if (plainEnd > g) {
            encoding_.DecodeB64Digits(std::span(digits_.data() + g, plainEnd - g), bytes_);
            emit(bytes_.data(), bytes_.size());
        }
        g = plainEnd;
        if (g >= ready) break;
        std::array<uint8_t, 8> group{0, 0, 0, 0, 'A', 'A', 'A', 'A'};
        std::memcpy(group.data(), digits_.data() + g, 4);
        encoding_.DecodeB64(group, bytes_);
        emit(bytes_.data(), 3);
        ended_ = group[2] == '=' || group[3] == '=';
        g += 4;
    }
    // Once ended, only the count of digits and the last two of them still matter.
    const std::size_t drop = ended_ ? size - std::min<std::size_t>(size, 2) : ready;
    digits_.erase(digits_.begin(), digits_.begin() + static_cast<std::ptrdiff_t>(drop));
    dropped_ += drop;
}

void Base64TextDecoder::finish() {
    const std::size_t n = digits_.size();
    std::size_t pad = 0;
    if (n >= 1 && digits_[n - 1] == '=') pad = n >= 2 && digits_[n - 2] == '=' ? 2 : 1;
    const std::uint64_t length = codec_detail::decodedBase64Length(dropped_ + n, pad);
    if (ended_) {
        static constexpr std::array<uint8_t, 4096> kZeros{};
        while (written_ < length) {
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(kZeros.size(), length - written_));
            emit(kZeros.data(), size);
        }
        return;
    }
    // The digits held back, after a plain group when an odd number of groups went before:
    // DecodeB64 rounds the length by its parity, as it does for the whole text.
    const bool odd = (dropped_ / 4) % 2 == 1;
    std::vector<uint8_t> rest(odd ? 4 : 0, 'A');
    rest.insert(rest.end(), digits_.begin(), digits_.end());
    encoding_.DecodeB64(rest, bytes_);
    const std::size_t skip = odd ? 3 : 0;
    if (bytes_.size() > skip) emit(bytes_.data() + skip, bytes_.size() - skip);
    digits_.clear();
}

void Base64TextDecoder::emit(const uint8_t* bytes, std::size_t size) {
    if (size == 0) return;
    written_ += size;
    sink_(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace ovk
