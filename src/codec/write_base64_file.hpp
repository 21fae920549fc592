// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string_view>

namespace ovk {

// Decodes a Base64 text and makes the bytes the whole content of the file at `path`, creating
// or replacing it. White space between the digits (line breaks of wrapped Base64, blanks,
// tabs) is skipped; see DecodeBase64Text. The file is replaced atomically: a failure leaves
// the old content. An empty text gives an empty file. Throws Error when the text holds a
// character that is neither a Base64 digit nor white space (no file is written then) or when
// the file cannot be written.
void WriteBase64File(std::string_view base64Text, const std::filesystem::path& path);

}  // namespace ovk
