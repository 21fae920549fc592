// SPDX-License-Identifier: MIT
#include "soap/content_decoding.hpp"

#include <algorithm>

#include "platform/text.hpp"

namespace ovk::soap {

namespace {

// Inflated pieces handed on at a time: large enough that a payload reply goes in few calls.
constexpr std::size_t kOutputPiece = std::size_t{256} << 10;
// zlib's window bits: 15 for the zlib format, +32 to take gzip too, negative for raw deflate.
constexpr int kZlibOrGzip = 15 + 32;
constexpr int kZlibOnly = 15;
constexpr int kRawDeflate = -15;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

ContentDecoding::~ContentDecoding() {
    reset();
}

bool ContentDecoding::init(int windowBits) {
    stream_ = z_stream{};
    if (inflateInit2(&stream_, windowBits) != Z_OK) {
        why_ = "Out of memory while inflating the reply";
        return false;
    }
    initialised_ = true;
    return true;
}

void ContentDecoding::reset() {
    if (initialised_) inflateEnd(&stream_);
    initialised_ = false;
    active_ = false;
    ended_ = false;
    producedOutput_ = false;
    rawDeflateTried_ = true;
    why_.clear();
}

bool ContentDecoding::start(std::string_view contentEncoding) {
    reset();
    const std::string_view name = trimmed(contentEncoding);
    if (name.empty() || equalsIgnoringAsciiCase(name, "identity")) return true;
    const bool gzip =
        equalsIgnoringAsciiCase(name, "gzip") || equalsIgnoringAsciiCase(name, "x-gzip");
    if (!gzip && !equalsIgnoringAsciiCase(name, "deflate")) {
        why_ = "Unrecognized content encoding type \"" + std::string(name) + "\"";
        return false;
    }
    // Some servers send "deflate" without its zlib wrapping: tried when the wrapped form fails
    // at once.
    rawDeflateTried_ = gzip;
    if (!init(gzip ? kZlibOrGzip : kZlibOnly)) return false;
    active_ = true;
    if (out_.empty()) out_.resize(kOutputPiece);
    return true;
}

bool ContentDecoding::inflate(const char* data, std::size_t size,
                              const std::function<bool(const char*, std::size_t)>& out,
                              bool& stopped) {
    stopped = false;
    // Bytes after the end of the stream are not part of the body's content.
    if (ended_) return true;
    const bool atStart = stream_.total_in == 0;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    while (true) {
        stream_.next_out = out_.data();
        stream_.avail_out = static_cast<uInt>(out_.size());
        const int result = ::inflate(&stream_, Z_NO_FLUSH);
        const std::size_t produced = out_.size() - stream_.avail_out;
        if (result == Z_DATA_ERROR && atStart && !producedOutput_ && !rawDeflateTried_) {
            rawDeflateTried_ = true;
            inflateEnd(&stream_);
            initialised_ = false;
            if (!init(kRawDeflate)) return false;
            return inflate(data, size, out, stopped);
        }
        if (produced > 0) {
            producedOutput_ = true;
            if (!out(reinterpret_cast<const char*>(out_.data()), produced)) {
                stopped = true;
                return false;
            }
        }
        if (result == Z_STREAM_END) {
            ended_ = true;
            return true;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            why_ = std::string("Error while processing content unencoding: ") +
                   (stream_.msg != nullptr ? stream_.msg : "the data are not valid");
            return false;
        }
        // All input taken and the output not filled: the rest comes with the next piece.
        if (stream_.avail_in == 0 && stream_.avail_out != 0) return true;
        if (result == Z_BUF_ERROR && produced == 0) return true;
    }
}

}  // namespace ovk::soap
