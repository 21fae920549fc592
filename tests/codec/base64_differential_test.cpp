// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "codec/base64_kernels.hpp"
#include "codec/base64_stream.hpp"
#include "codec/encoding.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

// The decoder as it has always behaved, one statement at a time, written for clarity: a
// statement that fails (a code without table entry, a place past the input, a byte that
// does not fit, a position past the output) is skipped and the next one runs.
std::vector<uint8_t> referenceDecode(const Encoding& encoding, const std::vector<uint8_t>& in) {
    const auto table = encoding.decodeTable();
    const std::size_t n = in.size();
    int pad = 0;
    if (n > 0 && in[n - 1] == '=') {
        pad = 1;
        if (n > 1 && in[n - 2] == '=') pad = 2;
    }
    const double length = std::nearbyint(static_cast<double>(n) / 4 * 3 - pad);
    std::vector<uint8_t> out(length > 0 ? static_cast<std::size_t>(length) : 0, 0);
    auto store = [&](std::size_t at, int value) {
        if (at < out.size() && value <= 255) out[at] = static_cast<uint8_t>(value);
    };
    int d[4] = {0, 0, 0, 0};
    std::size_t at = 0;
    for (std::size_t i = 0; i < n; i += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            if (i + k < n && in[i + k] < table.size()) d[k] = table[in[i + k]];
        }
        const int first = d[0] * 4 | ((d[1] / 16) & 3);
        const int second = ((d[1] & 15) * 16) | ((d[2] / 4) & 15);
        const int third = ((d[2] & 3) * 64) | d[3];
        if (d[2] != 64 && d[3] != 64) {
            store(at, first);
            store(at + 1, second);
            store(at + 2, third);
            at += 3;
        } else if (d[2] == 64) {
            store(at, first);
            break;
        } else {
            store(at, first);
            store(at + 1, second);
            break;
        }
    }
    return out;
}

class Inputs {
  public:
    explicit Inputs(uint32_t seed) : random_(seed) {}

    // Well-formed Base64 of random bytes, then a few characters replaced by hostile ones.
    std::vector<uint8_t> damagedWellFormed(std::size_t maxBytes) {
        const Encoding encoding;
        std::vector<uint8_t> plain(1 + below(maxBytes));
        for (auto& b : plain) b = static_cast<uint8_t>(random_());
        std::vector<uint8_t> text;
        encoding.EncodeB64(plain, text);
        for (std::size_t damage = below(4); damage > 0; --damage) {
            text[below(text.size())] = hostileByte();
        }
        if (below(4) == 0) text.resize(below(text.size() + 1));  // cut off anywhere
        return text;
    }

    // Any bytes, leaning towards the alphabet, "=" and the codes without table entry.
    std::vector<uint8_t> anything(std::size_t maxLength) {
        std::vector<uint8_t> text(below(maxLength + 1));
        for (auto& b : text) b = below(2) == 0 ? alphabetByte() : hostileByte();
        return text;
    }

  private:
    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : random_() % bound; }
    uint8_t alphabetByte() {
        static const std::string alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        return static_cast<uint8_t>(alphabet[below(alphabet.size())]);
    }
    uint8_t hostileByte() {
        switch (below(4)) {
            case 0:
                return '=';
            case 1:
                return static_cast<uint8_t>(234 + below(22));
            case 2:
                return static_cast<uint8_t>(below(256));
            default:
                return alphabetByte();
        }
    }

    std::mt19937 random_;
};

std::string hex(std::span<const uint8_t> bytes) {
    std::ostringstream out;
    for (const uint8_t b : bytes) out << std::hex << (b < 16 ? "0" : "") << int{b};
    return out.str();
}

// Outputs that held something before, so that a position the decoder forgets to write shows
// up instead of reading as the 0 it should be. The ByteBuffer keeps the old bytes in its
// capacity, which is what resize() hands back.
template <class Bytes>
Bytes staleOutput() {
    Bytes out(1024, 0xA5);
    out.clear();
    return out;
}

// Whole groups of digits, the last of which may end in "=" or "==".
bool wellFormed(const std::vector<uint8_t>& input) {
    const Encoding encoding;  // the table lives in the encoding
    const auto table = encoding.decodeTable();
    if (input.empty() || input.size() % 4 != 0) return false;
    std::size_t digits = input.size();
    if (input[digits - 1] == '=') --digits;
    if (input[digits - 1] == '=' && digits == input.size() - 1) --digits;
    return std::all_of(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(digits),
                       [&](uint8_t c) { return c < table.size() && table[c] < 64; });
}

// The text decoder gets the input wrapped into lines of `line` characters and cut into pieces
// of 1 to `line` + 1 characters, so that every edge falls somewhere in a group or a line end.
// It gives what DecodeB64 gives, or refuses an input holding what is no digit.
testing::AssertionResult streamsAsTheReference(const std::vector<uint8_t>& input,
                                               const std::vector<uint8_t>& expected,
                                               std::size_t line) {
    // White space is layout to the text decoder, a code outside the alphabet to DecodeB64.
    if (std::any_of(input.begin(), input.end(),
                    [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }))
        return testing::AssertionSuccess();
    const Encoding encoding;
    std::string text;
    for (std::size_t at = 0; at < input.size(); at += line)
        text.append(reinterpret_cast<const char*>(input.data()) + at,
                    std::min(line, input.size() - at))
            .append(at % 3 == 0 ? "\r\n" : "\n");
    std::string out;
    const Base64TextDecoder::Sink sink = [&](std::string_view bytes) { out.append(bytes); };
    Base64TextDecoder decoder(encoding, sink);
    const bool digits = std::all_of(input.begin(), input.end(), [&](uint8_t c) {
        return c < encoding.decodeTable().size() && encoding.decodeTable()[c] <= 64;
    });
    try {
        for (std::size_t at = 0, piece = 1; at < text.size();
             at += piece, piece = piece % (line + 1) + 1)
            decoder.feed(std::string_view(text).substr(at, piece));
        decoder.finish();
    } catch (const Error&) {
        if (!digits) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the text decoder refuses " << hex(input);
    }
    if (!digits) return testing::AssertionFailure() << "the text decoder takes " << hex(input);
    if (std::equal(out.begin(), out.end(), expected.begin(), expected.end(),
                   [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "the text decoder makes "
           << hex({reinterpret_cast<const uint8_t*>(out.data()), out.size()}) << " of "
           << hex(input) << ", expected " << hex(expected);
}

// Every kernel set this processor runs, into both kinds of output, against the reference; the
// checking decoder takes exactly the well-formed inputs, and decodes them alike, and so does the
// text decoder with the input in pieces.
testing::AssertionResult everyPathDecodesAsTheReference(const std::vector<uint8_t>& input) {
    const std::vector<uint8_t> expected = referenceDecode(Encoding(), input);
    for (const std::size_t line : {std::size_t{5}, std::size_t{76}}) {
        if (auto streamed = streamsAsTheReference(input, expected, line); !streamed)
            return streamed;
    }
    for (const auto* kernels : codec_detail::availableBase64Kernels()) {
        const Encoding encoding(*kernels);
        auto plain = staleOutput<std::vector<uint8_t>>();
        encoding.DecodeB64(input, plain);
        auto buffer = staleOutput<ByteBuffer>();
        encoding.DecodeB64(input, buffer);
        auto checked = staleOutput<ByteBuffer>();
        const bool taken = encoding.DecodeB64Digits(input, checked);
        if (plain != expected ||
            !std::equal(buffer.begin(), buffer.end(), expected.begin(), expected.end())) {
            return testing::AssertionFailure()
                   << kernels->name << " decodes " << hex(input) << " as " << hex(plain) << " / "
                   << hex(buffer) << ", expected " << hex(expected);
        }
        if (taken != wellFormed(input) ||
            (taken &&
             !std::equal(checked.begin(), checked.end(), expected.begin(), expected.end()))) {
            return testing::AssertionFailure()
                   << kernels->name << " checking decoder " << (taken ? "takes " : "refuses ")
                   << hex(input) << (taken ? " as " + hex(checked) : std::string());
        }
    }
    return testing::AssertionSuccess();
}

std::vector<uint8_t> encoded(std::size_t plainBytes, uint32_t seed) {
    std::vector<uint8_t> plain(plainBytes);
    std::mt19937 random(seed);
    for (auto& b : plain) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> text;
    if (!plain.empty()) Encoding(codec_detail::kPortableBase64Kernels).EncodeB64(plain, text);
    return text;
}

TEST(DecodeB64Differential, AgreesWithTheStatementByStatementDecoderOnHostileInput) {
    Inputs inputs(20240607);
    for (int round = 0; round < 20000; ++round) {
        const std::vector<uint8_t> input = round % 2 == 0
                                               ? inputs.anything(round % 10 == 0 ? 400 : 24)
                                               : inputs.damagedWellFormed(300);
        ASSERT_TRUE(everyPathDecodesAsTheReference(input));
    }
}

TEST(DecodeB64Differential, AgreesOnLongInputsDamagedAtEveryPlaceOfAGroup) {
    const std::vector<uint8_t> text = encoded(3000, 7);
    for (std::size_t at = 0; at < 200; ++at) {
        for (const uint8_t hostile : {uint8_t{'='}, uint8_t{'-'}, uint8_t{0}, uint8_t{240}}) {
            std::vector<uint8_t> damaged = text;
            damaged[at] = hostile;
            damaged[damaged.size() - 1 - at] = hostile;
            ASSERT_TRUE(everyPathDecodesAsTheReference(damaged)) << "damaged at " << at;
        }
    }
}

// The vector kernels classify 16 or 32 characters at once: any byte value at any place of
// the first three blocks must send exactly that group to the exact path.
TEST(DecodeB64Differential, AgreesForEveryByteValueAtEveryPlaceOfAVectorBlock) {
    const std::vector<uint8_t> text = encoded(3 * 64, 11);
    for (std::size_t at = 0; at < 96; ++at) {
        for (unsigned value = 0; value < 256; ++value) {
            std::vector<uint8_t> damaged = text;
            damaged[at] = static_cast<uint8_t>(value);
            ASSERT_TRUE(everyPathDecodesAsTheReference(damaged));
        }
    }
}

// Every length crosses the vector loops' bounds differently; each text is tried whole, cut
// short, and with a second text after its padding (which the decoder must ignore).
TEST(DecodeB64Differential, AgreesAtEveryLengthWithPaddingAtTheEndOrInTheMiddle) {
    const std::vector<uint8_t> tail = encoded(90, 5);
    for (std::size_t plainBytes = 0; plainBytes <= 150; ++plainBytes) {
        const std::vector<uint8_t> text = encoded(plainBytes, static_cast<uint32_t>(plainBytes));
        ASSERT_TRUE(everyPathDecodesAsTheReference(text));
        std::vector<uint8_t> followed = text;
        followed.insert(followed.end(), tail.begin(), tail.end());
        ASSERT_TRUE(everyPathDecodesAsTheReference(followed));
        for (std::size_t cut = 1; cut <= 3 && cut <= text.size(); ++cut) {
            ASSERT_TRUE(everyPathDecodesAsTheReference({text.begin(), text.end() - cut}));
        }
    }
    const std::vector<uint8_t> clean = encoded(150, 3);
    for (std::size_t length = 0; length <= 200; ++length) {
        ASSERT_TRUE(everyPathDecodesAsTheReference({clean.begin(), clean.begin() + length}));
    }
}

// Agreement alone would not notice a kernel that hands clean text to the scalar code.
TEST(Base64Kernels, VectorKernelsTakeEveryCleanGroupTheyHaveRoomFor) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> text;
    for (int i = 0; i < 4; ++i) text.insert(text.end(), alphabet.rbegin(), alphabet.rend());
    std::vector<uint8_t> out(2 * text.size());
    // 256 plain bytes and the few after them that a vector load may reach.
    const std::vector<uint8_t> plain(text.size() + 32, 0x5A);
    for (const auto* kernels : codec_detail::availableBase64Kernels()) {
        if (kernels == &codec_detail::kPortableBase64Kernels) continue;
        EXPECT_EQ(kernels->decodeDigits(text.data(), text.size() / 4, out.data(), out.size()),
                  text.size() / 4)
            << kernels->name;
        EXPECT_GE(kernels->encodeGroups(plain.data(), plain.size(), out.data()) * 3, text.size())
            << kernels->name;
    }
}

TEST(EncodeB64Differential, EveryKernelSetEncodesAsThePortableCode) {
    const Encoding portable(codec_detail::kPortableBase64Kernels);
    std::mt19937 random(3);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 200; ++n) lengths.push_back(n);
    for (int i = 0; i < 20; ++i) lengths.push_back(1 + random() % 5000);
    // Large enough for the kernels to write past the caches.
    lengths.push_back((std::size_t{9} << 20) + 2);
    for (const std::size_t n : lengths) {
        std::vector<uint8_t> plain(n);
        for (auto& b : plain) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> expected;
        portable.EncodeB64(plain, expected);
        for (const auto* kernels : codec_detail::availableBase64Kernels()) {
            const Encoding encoding(*kernels);
            auto text = staleOutput<std::vector<uint8_t>>();
            encoding.EncodeB64(plain, text);
            auto buffer = staleOutput<ByteBuffer>();
            encoding.EncodeB64(plain, buffer);
            ASSERT_EQ(text, expected) << kernels->name << " at length " << n;
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), expected.begin(), expected.end()))
                << kernels->name << " into a buffer at length " << n;
        }
    }
}

}  // namespace
}  // namespace ovk
