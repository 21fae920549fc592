#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/encoding.hpp"

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

TEST(DecodeB64Differential, AgreesWithTheStatementByStatementDecoderOnHostileInput) {
    const Encoding encoding;
    Inputs inputs(20240607);
    std::vector<uint8_t> out;
    for (int round = 0; round < 20000; ++round) {
        const std::vector<uint8_t> input = round % 2 == 0
                                               ? inputs.anything(round % 10 == 0 ? 400 : 24)
                                               : inputs.damagedWellFormed(300);
        encoding.DecodeB64(input, out);
        ASSERT_EQ(out, referenceDecode(encoding, input))
            << "input: " << std::string(input.begin(), input.end());
    }
}

TEST(DecodeB64Differential, AgreesOnLongInputsDamagedAtEveryPlaceOfAGroup) {
    const Encoding encoding;
    std::vector<uint8_t> plain(3000);
    std::mt19937 random(7);
    for (auto& b : plain) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> text;
    encoding.EncodeB64(plain, text);
    std::vector<uint8_t> out;
    for (std::size_t at = 0; at < 200; ++at) {
        for (const uint8_t hostile : {uint8_t{'='}, uint8_t{'-'}, uint8_t{0}, uint8_t{240}}) {
            std::vector<uint8_t> damaged = text;
            damaged[at] = hostile;
            damaged[damaged.size() - 1 - at] = hostile;
            encoding.DecodeB64(damaged, out);
            ASSERT_EQ(out, referenceDecode(encoding, damaged)) << "damaged at " << at;
        }
    }
}

}  // namespace
}  // namespace ovk
