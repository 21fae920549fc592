// SPDX-License-Identifier: MIT
#include "base64.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace ovk::refservice {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters per 12 input bits: halves the table look-ups of the plain encoder,
// which matters when multi-megabyte documents go out on every item request.
struct PairTable {
    std::array<char, 4096 * 2> chars{};
    constexpr PairTable() {
        for (int i = 0; i < 4096; ++i) {
            chars[2 * i] = kAlphabet[i >> 6];
            chars[2 * i + 1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;

int decodeValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

void encodeBase64(const unsigned char* in, std::size_t size, char* out) {
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3, out += 4) {
        const std::uint32_t v =
            (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
        std::memcpy(out, &kPairs.chars[2 * (v >> 12)], 2);
        std::memcpy(out + 2, &kPairs.chars[2 * (v & 0xFFF)], 2);
    }
    const std::size_t rest = size - i;
    if (rest == 0) return;
    const std::uint32_t v =
        (std::uint32_t{in[i]} << 16) | (rest == 2 ? std::uint32_t{in[i + 1]} << 8 : 0);
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = '=';
}

void appendBase64(std::string& out, std::string_view bytes) {
    const std::size_t start = out.size();
    out.resize(start + base64Length(bytes.size()));
    encodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                 out.data() + start);
}

std::optional<std::string> decodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;
    int padding = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            // Padding only completes a group that already holds two or three characters.
            if (count < 2) return std::nullopt;
            ++padding;
            group <<= 6;
            if (++count == 4) {
                out.push_back(static_cast<char>(group >> 16));
                if (padding == 1) out.push_back(static_cast<char>(group >> 8));
                group = 0;
                count = 0;
            }
            continue;
        }
        const int value = decodeValue(c);
        if (value < 0 || padding > 0) return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<char>(group >> 16));
            out.push_back(static_cast<char>(group >> 8));
            out.push_back(static_cast<char>(group));
            group = 0;
            count = 0;
        }
    }
    if (count != 0) return std::nullopt;
    return out;
}

void LineBreaker::append(std::string_view text, std::string& out) {
    if (lineLength_ == 0) {
        out.append(text);
        return;
    }
    while (!text.empty()) {
        if (column_ == lineLength_) {
            out += "\r\n";
            column_ = 0;
        }
        const std::size_t n = std::min(text.size(), lineLength_ - column_);
        out.append(text.substr(0, n));
        column_ += n;
        text.remove_prefix(n);
    }
}

}  // namespace ovk::refservice
