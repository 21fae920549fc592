// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/byte_buffer.hpp"

namespace ovk {

namespace codec_detail {
struct Base64Kernels;
}

// Base64 with the standard alphabet and "=" padding, plus the conversions between the
// component's UTF-8 strings and the single-byte ANSI code page (Windows-1252) in which
// payloads and tree keys travel.
//
// Every operation delivers its result through its last argument, which is replaced as a
// whole. DecodeB64 never fails: it reproduces exactly what the component has always made of
// malformed input, because payload files written from such input must keep coming out the
// same. The other operations report failures as ovk::Error.
//
// The tables are built once per object and only read afterwards; an object may be shared
// between threads for reading, but each user normally makes its own.
class Encoding {
  public:
    static constexpr std::size_t kEncodeTableSize = 64;
    // Codes 234 to 255 have no entry: decoding leaves such a place as the previous group had it.
    static constexpr std::size_t kDecodeTableSize = 234;

    // Uses the fastest vector instructions this processor has for clean runs of Base64.
    Encoding();
    // Uses the given kernels instead, so that they can be compared with each other.
    explicit Encoding(const codec_detail::Base64Kernels& kernels);
    ~Encoding();
    Encoding(const Encoding&) = delete;
    Encoding& operator=(const Encoding&) = delete;
    Encoding(Encoding&&) noexcept;
    Encoding& operator=(Encoding&&) noexcept;

    // UTF-8 text to ANSI bytes, one byte per character; characters the code page lacks
    // become '?'.
    void Str2ByteArray(std::string_view StringIn, std::vector<uint8_t>& ByteArray) const;
    // ANSI bytes to UTF-8 text, one character per byte.
    void ByteArryToString(std::span<const uint8_t> ByteArray, std::string& StringOut) const;

    // Throws Error (OutOfRange) for an empty input: there is no Base64 text of nothing.
    void EncodeB64(std::span<const uint8_t> ByteArrayIn, std::vector<uint8_t>& ByteArrayOut) const;
    // Never throws for any input; see the class comment.
    void DecodeB64(std::span<const uint8_t> ByteArrayIn, std::vector<uint8_t>& ByteArrayOut) const;
    // The same into a buffer that is not cleared before it is written: for payloads, where
    // clearing a fresh output first would cost as much again as the decoding itself.
    void EncodeB64(std::span<const uint8_t> ByteArrayIn, ByteBuffer& ByteArrayOut) const;
    void DecodeB64(std::span<const uint8_t> ByteArrayIn, ByteBuffer& ByteArrayOut) const;
    // Decodes well-formed Base64 (whole groups of the 64 digits, the last of which may end in
    // "=" or "=="), checking that as it decodes: a payload is read once rather than checked
    // first and decoded after. Gives what DecodeB64 gives for such a text. Returns false for
    // any other text, as soon as it meets what is not a digit; the output is then no result.
    bool DecodeB64Digits(std::span<const uint8_t> ByteArrayIn, ByteBuffer& ByteArrayOut) const;

    // Breaks the input into lines of CharsPerLine bytes joined by CR LF. Throws Error
    // (InvalidArgument) when CharsPerLine is not positive.
    void Span(int32_t CharsPerLine, std::span<const uint8_t> ByteArrayIn,
              std::vector<uint8_t>& ByteArrayOut) const;
    // Removes every CR LF pair; a lone CR or LF stays.
    void Unspan(std::span<const uint8_t> ByteArrayIn, std::vector<uint8_t>& ByteArrayOut) const;

    // Entry v is the character code of the Base64 digit of value v.
    std::span<const uint8_t, kEncodeTableSize> encodeTable() const { return encodeTable_; }
    // Entry c is the digit value of character code c, 64 for "=", 255 for anything else.
    std::span<const uint8_t, kDecodeTableSize> decodeTable() const { return decodeTable_; }

    // Lookup tables derived from the two above, used by the well-formed fast paths.
    struct FastTables;

  private:
    std::array<uint8_t, kEncodeTableSize> encodeTable_{};
    std::array<uint8_t, kDecodeTableSize> decodeTable_{};
    std::unique_ptr<const FastTables> fast_;
    const codec_detail::Base64Kernels* kernels_;
};

}  // namespace ovk
