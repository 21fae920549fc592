// SPDX-License-Identifier: MIT
#include "codec/base64_text.hpp"

#include "codec/base64_stream.hpp"

namespace ovk {

void DecodeBase64Text(std::string_view text, const Encoding& encoding,
                      const Base64FileReplacer& replace) {
    replace([&](const Base64Sink& write) {
        Base64TextDecoder decoder(encoding, write);
        decoder.feed(text);
        decoder.finish();
    });
}

}  // namespace ovk
