// SPDX-License-Identifier: MIT
#include "codec/write_base64_file.hpp"

#include "codec/base64_text.hpp"
#include "codec/encoding.hpp"
#include "platform/files.hpp"
#include "platform/memory_writes.hpp"

namespace ovk {

void WriteBase64File(std::string_view base64Text, const std::filesystem::path& path) {
    const Encoding encoding;
    DecodeBase64Text(base64Text, encoding, [&](const auto& produce) {
        files::replaceFileContentWith(path, [&](int fd) {
            produce([&](std::string_view bytes) {
                if (const int errnum = files::writeFromMemory(fd, bytes); errnum != 0)
                    throw files::ioError("Cannot write", path, errnum);
            });
        });
    });
}

}  // namespace ovk
