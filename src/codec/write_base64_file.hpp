#pragma once

#include <filesystem>
#include <string_view>

namespace ovk {

// Decodes a Base64 text (as DecodeB64 does, never failing on its content) and makes the
// bytes the whole content of the file at `path`, creating or replacing it. The file is
// replaced atomically: a failure leaves the old content. An empty text gives an empty file.
// Throws Error when the file cannot be written.
void WriteBase64File(std::string_view base64Text, const std::filesystem::path& path);

}  // namespace ovk
