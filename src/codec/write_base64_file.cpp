#include "codec/write_base64_file.hpp"

#include <cstdint>
#include <vector>

#include "codec/encoding.hpp"
#include "platform/files.hpp"

namespace ovk {

void WriteBase64File(std::string_view base64Text, const std::filesystem::path& path) {
    const Encoding encoding;
    ByteBuffer bytes;
    {
        // Payloads can be large: the encoded bytes go before the file is written.
        std::vector<uint8_t> text;
        encoding.Str2ByteArray(base64Text, text);
        encoding.DecodeB64(text, bytes);
    }
    files::replaceFileContent(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace ovk
