// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "codec/byte_buffer.hpp"
#include "codec/encoding.hpp"

namespace ovk {

namespace codec_detail {
// How many bytes DecodeB64 makes of `digits` characters whose last `pad` are "=".
std::size_t decodedBase64Length(std::size_t digits, std::size_t pad);
}  // namespace codec_detail

// Decodes Base64 text that arrives in pieces split anywhere (a reply read from the network,
// a text read in blocks), handing the bytes on as they are made, so that a payload of
// gigabytes never stands whole in memory. The text is what services send: in one line or
// wrapped (CR LF or LF every so many characters), with white space (CR, LF, space, tab)
// anywhere as layout. Every other character must be a digit of the standard alphabet or "=".
//
// The bytes are exactly what Encoding::DecodeB64 makes of the text's digits taken whole, also
// for digits that are not whole groups or hold "=" before their end: payload files written
// from such texts must keep coming out the same. Such a text costs no second pass: the few
// bytes its shape decides are held back until finish().
class Base64TextDecoder {
  public:
    using Sink = std::function<void(std::string_view bytes)>;

    // `encoding` and `sink` must outlive the decoder.
    Base64TextDecoder(const Encoding& encoding, const Sink& sink);

    // Takes the next piece of the text. Throws Error (InvalidArgument) for the first character
    // that is neither a digit, "=" nor white space, naming it and its offset in the whole text
    // (in bytes); the bytes handed on before are then no result. What the sink throws passes.
    void feed(std::string_view text);
    // Hands on the last bytes. The decoder is done then.
    void finish();

    // Characters taken so far, white space included.
    std::uint64_t textSize() const { return offset_; }

  private:
    void feedPiece(std::string_view piece);
    // Decodes the digits gathered but the last group and any part of one, which the end of the
    // text may still change; false when they are not all plain digits.
    bool releaseGroups();
    void releaseSlowly();
    void emit(const uint8_t* bytes, std::size_t size);

    const Encoding& encoding_;
    const Sink& sink_;
    std::vector<uint8_t> digits_;  // gathered, not yet decoded
    ByteBuffer bytes_;
    std::uint64_t offset_ = 0;   // characters taken
    std::uint64_t dropped_ = 0;  // digits decoded or, once ended, counted and let go
    std::uint64_t written_ = 0;  // bytes handed on
    // A group with "=" in its third or fourth place ended the decoding: the rest is zeros.
    bool ended_ = false;
};

}  // namespace ovk
