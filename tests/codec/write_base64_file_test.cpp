#include <gtest/gtest.h>

#include <random>

#include "codec/encoding.hpp"
#include "codec/write_base64_file.hpp"
#include "platform/errors.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

TEST(WriteBase64File, WritesTheDecodedBytesOverAnyOldContent) {
    test::TempDir dir;
    const auto file = dir.write("Banner1.jpg", "old content, longer than the new one");
    WriteBase64File("YWJj", file);
    EXPECT_EQ(test::readAll(file), "abc");
}

TEST(WriteBase64File, EmptyTextGivesAnEmptyFile) {
    test::TempDir dir;
    const auto fresh = dir / "new.bin";
    WriteBase64File("", fresh);
    ASSERT_TRUE(std::filesystem::exists(fresh));
    EXPECT_EQ(std::filesystem::file_size(fresh), 0u);

    const auto old = dir.write("old.bin", "something");
    WriteBase64File("", old);
    EXPECT_EQ(std::filesystem::file_size(old), 0u);
}

// Text that is not plain ASCII goes through the code page first, as it always did; the
// decoder then reads the converted bytes ("€" becomes 128, "ê" 234, "ÿ" 255).
TEST(WriteBase64File, WritesMalformedTextAsTheDecoderReadsIt) {
    const Encoding encoding;
    test::TempDir dir;
    const auto file = dir / "odd.bin";
    for (const std::string_view text : {"-WJj", "YWJj\u20acYWJj", "YWJjY\u00eaJj",
                                        "YWJj\u00ff\u00ff\u00ff\u00ff", "YW\u00e9=YWJj"}) {
        std::vector<uint8_t> bytes;
        encoding.Str2ByteArray(text, bytes);
        std::vector<uint8_t> expected;
        encoding.DecodeB64(bytes, expected);
        WriteBase64File(text, file);
        EXPECT_EQ(test::readAll(file), std::string(expected.begin(), expected.end())) << text;
    }
    WriteBase64File("-WJj", file);
    EXPECT_EQ(test::readAll(file), std::string("\0bc", 3));
}

// Large enough for the output to get a mapping of its own.
TEST(WriteBase64File, LargePayloadArrivesIntact) {
    std::vector<uint8_t> payload(12 * 1024 * 1024 + 1);
    std::mt19937 random(1);
    for (auto& b : payload) b = static_cast<uint8_t>(random());
    const Encoding encoding;
    std::vector<uint8_t> text;
    encoding.EncodeB64(payload, text);

    test::TempDir dir;
    const auto file = dir / "document.pdf";
    WriteBase64File(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                    file);
    EXPECT_EQ(test::readAll(file), std::string(payload.begin(), payload.end()));
}

TEST(WriteBase64File, FailureToWriteReachesTheCallerAndLeavesNoFile) {
    test::TempDir dir;
    const auto file = dir / "missing folder" / "x.bin";
    EXPECT_THROW(WriteBase64File("YWJj", file), Error);
    EXPECT_FALSE(std::filesystem::exists(file));

    // A folder in the file's place cannot be replaced; it stays as it was.
    std::filesystem::create_directory(dir / "taken");
    EXPECT_THROW(WriteBase64File("YWJj", dir / "taken"), Error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << "a temporary file was left behind";
}

}  // namespace
}  // namespace ovk
