// SPDX-License-Identifier: MIT
#include "platform/codepage.hpp"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace ovk {
namespace {

// One iconv descriptor per conversion and thread; iconv_open is costly and descriptors
// carry shift state, so they are neither rebuilt per call nor shared between threads.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        // iconv_open's failure value is the address -1.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " +
                                     to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`; on a sequence the target cannot hold, `onBad` appends a stand-in to
    // the output and returns how many input bytes to skip.
    template <class OnBad>
    std::string convert(std::string_view in, OnBad onBad) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size() + 8);
        char buffer[4096];
        auto* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, dst);
            if (rc != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ, or EINVAL for a sequence cut off at the end of the input.
            const size_t skip = std::min(srcLeft, onBad(std::string_view(src, srcLeft), out));
            src += skip;
            srcLeft -= skip;
        }
        return out;
    }

  private:
    iconv_t cd_;
};

size_t utf8SequenceLength(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

}  // namespace

std::string toAnsi(std::string_view utf8) {
    thread_local Converter converter("WINDOWS-1252", "UTF-8");
    return converter.convert(utf8, [](std::string_view rest, std::string& out) {
        // The C1 controls stand for the bytes Windows-1252 leaves undefined (see fromAnsi).
        if (rest.size() >= 2 && static_cast<unsigned char>(rest[0]) == 0xC2 &&
            (static_cast<unsigned char>(rest[1]) & 0xE0) == 0x80) {
            out.push_back(rest[1]);
            return size_t{2};
        }
        out.push_back('?');
        // Skip one whole character; a broken sequence is skipped one byte at a time.
        const size_t length = utf8SequenceLength(static_cast<unsigned char>(rest[0]));
        for (size_t i = 1; i < length; ++i) {
            if (i >= rest.size() || (static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80)
                return size_t{1};
        }
        return length;
    });
}

std::string fromAnsi(std::string_view ansi) {
    thread_local Converter converter("UTF-8", "WINDOWS-1252");
    return converter.convert(ansi, [](std::string_view rest, std::string& out) {
        // A byte Windows-1252 leaves undefined: keep it as the C1 control of that value.
        const auto byte = static_cast<unsigned char>(rest[0]);
        out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
        out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        return size_t{1};
    });
}

}  // namespace ovk
