// The service compresses a reply in the coding a client accepts, and only then.

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>

#include "reply_compression.hpp"

namespace ovk::refservice {
namespace {

TEST(RefServiceCompression, AnswersInTheCodingTheClientAccepts) {
    const struct {
        const char* acceptEncoding;
        std::optional<ContentCoding> coding;
    } cases[] = {
        {"gzip, deflate", ContentCoding::Gzip},
        {"deflate", ContentCoding::Deflate},
        {"br, DEFLATE;q=0.5", ContentCoding::Deflate},
        {"gzip;q=0, deflate", ContentCoding::Deflate},
        {"gzip;q=0.0", std::nullopt},
        {"br, identity", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(acceptedCoding(c.acceptEncoding), c.coding) << c.acceptEncoding;
}

TEST(RefServiceCompression, ACompressedReplyInflatesToTheReply) {
    ReplyBody body("<root>");
    for (int i = 0; i < 2000; ++i) body.append("<a>Velmora</a>");
    body.append("</root>");
    std::string plain;
    body.write(
        [&](const char* data, std::size_t size) {
            plain.append(data, size);
            return true;
        },
        body.size());
    for (const ContentCoding coding : {ContentCoding::Gzip, ContentCoding::Deflate}) {
        SCOPED_TRACE(std::string(contentCodingName(coding)));
        const auto packed = compressedBody(body, coding);
        ASSERT_TRUE(packed);
        EXPECT_LT(packed->size(), plain.size() / 10);
        z_stream stream{};
        ASSERT_EQ(inflateInit2(&stream, coding == ContentCoding::Gzip ? 15 + 16 : 15), Z_OK);
        std::string out(plain.size() + 1, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed->data()));
        stream.avail_in = static_cast<uInt>(packed->size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
        out.resize(out.size() - stream.avail_out);
        inflateEnd(&stream);
        EXPECT_EQ(out, plain);
    }
}

}  // namespace
}  // namespace ovk::refservice
