// SPDX-License-Identifier: MIT
// The service compresses a reply in the coding a client accepts, and only then; the
// downloads against a compressing service show the replies inflate to the same results.

#include <gtest/gtest.h>

#include <optional>

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

}  // namespace
}  // namespace ovk::refservice
