// SPDX-License-Identifier: MIT
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

// White space is layout wherever it stands, as every MIME decoder takes it; digits that are
// not whole groups keep what the decoder has always made of them. Any other character writes
// nothing and is named with its offset.
TEST(WriteBase64File, SkipsWhiteSpaceAndRefusesEveryOtherForeignCharacter) {
    const struct {
        std::string_view text;
        std::string bytes;  // when written
        std::string named;  // in the error, when refused
    } cases[] = {
        {"YWJj\r\nZGVm\r\nZ2hp", "abcdefghi", {}},
        {"YWJj\nZGVm\nZ2hp\n", "abcdefghi", {}},
        {" YW Jj\tZG\r\nVm \r\n", "abcdef", {}},
        {"YWJj\r\nYQ==\r\n", "abca", {}},
        {"YWJ\r\njYQ\r\n==", "abca", {}},
        {"\r\n", "", {}},
        {"YQ==YWJj", std::string("a\0\0\0\0\0", 6), {}},
        {"YWJjY", "abca", {}},
        {"YWJj!WJj", {}, "\"!\" at offset 4"},
        {"-WJj", {}, "\"-\" at offset 0"},
        {"YW_j", {}, "\"_\" at offset 2"},
        {"YWJj\r\nY\u20acJj", {}, "code 226 at offset 7"},
        {"YWJj\vYWJj", {}, "code 11 at offset 4"},
    };
    test::TempDir dir;
    const auto file = dir.write("out.bin", "old");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.named.empty()) {
            WriteBase64File(c.text, file);
            EXPECT_EQ(test::readAll(file), c.bytes);
            continue;
        }
        const auto before = test::readAll(file);
        try {
            WriteBase64File(c.text, file);
            ADD_FAILURE() << "written";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::InvalidArgument);
            EXPECT_NE(e.description.find(c.named), std::string::npos) << e.description;
        }
        EXPECT_EQ(test::readAll(file), before);
    }
}

// Large enough for the output to get a mapping of its own, and for the text to be decoded in
// several pieces, whose edges fall anywhere in a line.
TEST(WriteBase64File, LargePayloadArrivesIntactInOneLineOrWrapped) {
    std::vector<uint8_t> payload(12 * 1024 * 1024 + 1);
    std::mt19937 random(1);
    for (auto& b : payload) b = static_cast<uint8_t>(random());
    const Encoding encoding;
    std::vector<uint8_t> encoded;
    encoding.EncodeB64(payload, encoded);
    const std::string oneLine(encoded.begin(), encoded.end());
    const auto wrapped = [&](std::size_t line, std::string_view lineEnd) {
        std::string text;
        for (std::size_t at = 0; at < oneLine.size(); at += line)
            text.append(oneLine, at, line).append(lineEnd);
        return text;
    };

    test::TempDir dir;
    const auto file = dir / "document.pdf";
    for (const std::string& text :
         {oneLine, wrapped(76, "\r\n"), wrapped(63, "\n"), wrapped(1000, " \t ")}) {
        WriteBase64File(text, file);
        EXPECT_EQ(test::readAll(file), std::string(payload.begin(), payload.end()));
    }
    // A foreign character far behind the first piece still writes nothing.
    std::string spoilt = wrapped(76, "\r\n");
    spoilt[spoilt.size() - 10] = '.';
    std::filesystem::remove(file);
    EXPECT_THROW(WriteBase64File(spoilt, file), Error);
    EXPECT_FALSE(std::filesystem::exists(file));
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
