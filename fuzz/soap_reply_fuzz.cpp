// SPDX-License-Identifier: MIT
// A service reply, parsed whole and in pieces, must get the same verdict and, when accepted,
// the same document; the envelope reader must then either find its parts or say why not.
// The first byte chooses the piece size and whether the reply is read as a wrapped one.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "soap/reply_envelope.hpp"
#include "soap/reply_parser.hpp"

namespace {

struct Verdict {
    std::string document;  // the accepted document as text, or
    std::string failure;   // the kind of failure
};

Verdict parse(std::string_view body, std::size_t piece, bool wrapped) {
    ovk::soap::ReplyParser parser;
    for (std::size_t at = 0; at < body.size(); at += piece) {
        const std::size_t n = std::min(piece, body.size() - at);
        if (!parser.feed(body.data() + at, n)) return {{}, "out of memory"};
    }
    try {
        const ovk::xml::Document document = parser.finish();
        try {
            const ovk::soap::ReplyEnvelope envelope =
                ovk::soap::readReplyEnvelope(document, wrapped);
            if (envelope.fault && envelope.fault->string.size() > ovk::kMaxReportedText + 3)
                std::abort();  // fault texts are bounded
            if (envelope.returnElement) (void)envelope.returnElement.text();
        } catch (const ovk::Error& e) {
            if (e.number != ovk::err::SoapMalformedReply) std::abort();
        }
        return {document.toString(), {}};
    } catch (const ovk::xml::ParseError&) {
        return {{}, "not well-formed"};
    } catch (const ovk::Error& e) {
        return {{}, std::to_string(e.number)};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + (data[0] & 0x3F);
    const bool wrapped = (data[0] & 0x80) != 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Verdict whole = parse(body, body.size() + 1, wrapped);
    const Verdict pieces = parse(body, piece, wrapped);
    if (whole.document != pieces.document || whole.failure != pieces.failure) std::abort();
    return 0;
}
