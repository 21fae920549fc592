// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string_view>

#include "codec/encoding.hpp"

namespace ovk {

// Base64 text as services send it: in one line or wrapped into lines (CR LF or LF every 76
// characters, as MIME encoders write it), with white space (CR, LF, space, tab) anywhere
// between the digits as layout. Every other character must be a digit of the standard alphabet
// or "=".
//
// `replace` stands for one file being replaced: it runs the function it is given once, which
// hands the decoded bytes to its sink a piece at a time (see Base64TextDecoder), and makes them
// the file's content only when that function returns; an exception from it must leave the old
// file. The bytes are what DecodeB64 makes of the text's digits, whatever their shape.
//
// Throws Error (InvalidArgument) for the first character that is neither a digit, "=" nor
// white space, naming it and its offset in the text (in bytes); no file is written then.
using Base64Sink = std::function<void(std::string_view bytes)>;
using Base64FileReplacer = std::function<void(const std::function<void(const Base64Sink&)>&)>;
void DecodeBase64Text(std::string_view text, const Encoding& encoding,
                      const Base64FileReplacer& replace);

}  // namespace ovk
