#include "codec/write_base64_file.hpp"

#include <cstdint>
#include <vector>

#include "codec/ascii_bytes.hpp"
#include "codec/encoding.hpp"
#include "platform/files.hpp"

namespace ovk {

void WriteBase64File(std::string_view base64Text, const std::filesystem::path& path) {
    const Encoding encoding;
    ByteBuffer bytes;
    const std::span<const uint8_t> asciiText = codec_detail::asBytes(base64Text);
    if (codec_detail::isAscii(asciiText)) {
        // What Str2ByteArray would make of it, without a copy of a payload that may be large.
        encoding.DecodeB64(asciiText, bytes);
    } else {
        // The encoded bytes go before the file is written.
        std::vector<uint8_t> text;
        encoding.Str2ByteArray(base64Text, text);
        encoding.DecodeB64(text, bytes);
    }
    files::replaceFileContent(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace ovk
