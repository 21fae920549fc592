// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "codec/byte_buffer.hpp"

namespace ovk {
namespace {

// Whether any mapping of this process overlaps [start, start + size).
bool mapped(const void* start, std::size_t size) {
    const auto from = reinterpret_cast<std::uintptr_t>(start);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream range(line);
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        range >> std::hex >> begin >> dash >> end;
        if (begin < from + size && from < end) return true;
    }
    return false;
}

constexpr std::size_t kMiB = std::size_t{1} << 20;

// A large block released and taken again for a smaller buffer must go back whole, not
// as long as the smaller buffer, or the rest of it would stay mapped for good.
TEST(ByteBuffer, ReusedLargeBlocksAreReturnedWhole) {
#if defined(__linux__)
    codec_detail::releaseIdleBytes();
    const uint8_t* block = nullptr;
    {
        ByteBuffer large;
        large.resize(64 * kMiB);
        large.back() = 1;
        block = large.data();
    }
    {
        ByteBuffer smaller;
        smaller.resize(40 * kMiB);
        EXPECT_EQ(smaller.data(), block) << "the released block should have been reused";
        ByteBuffer another;  // the block is taken: this one gets its own
        another.resize(40 * kMiB);
        EXPECT_NE(another.data(), block);
        smaller.assign(smaller.size(), 0x5A);
        another.assign(another.size(), 0xA5);
        EXPECT_EQ(smaller.back(), 0x5A);
    }
    codec_detail::releaseIdleBytes();
    EXPECT_FALSE(mapped(block, 64 * kMiB));
#else
    GTEST_SKIP() << "large blocks have mappings of their own on Linux only";
#endif
}

}  // namespace
}  // namespace ovk
