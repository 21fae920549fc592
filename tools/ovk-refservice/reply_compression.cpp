// SPDX-License-Identifier: MIT
#include "reply_compression.hpp"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace ovk::refservice {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Whether the list offers `coding` with a weight above 0.
bool offers(std::string_view acceptEncoding, std::string_view coding) {
    const std::string list = lower(acceptEncoding);
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view entry = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const auto semicolon = entry.find(';');
        if (trimmed(entry.substr(0, semicolon)) != coding) continue;
        if (semicolon == std::string_view::npos) return true;
        std::string_view parameter = trimmed(entry.substr(semicolon + 1));
        if (parameter.substr(0, 2) != "q=") return true;
        parameter.remove_prefix(2);
        return parameter.find_first_not_of("0.") != std::string_view::npos;
    }
    return false;
}

}  // namespace

std::string_view contentCodingName(ContentCoding coding) {
    return coding == ContentCoding::Gzip ? "gzip" : "deflate";
}

std::optional<ContentCoding> acceptedCoding(std::string_view acceptEncoding) {
    if (offers(acceptEncoding, "gzip")) return ContentCoding::Gzip;
    if (offers(acceptEncoding, "deflate")) return ContentCoding::Deflate;
    return std::nullopt;
}

struct StreamCompressor::Stream {
    z_stream z{};
};

StreamCompressor::StreamCompressor(ContentCoding coding, int level)
    : stream_(std::make_unique<Stream>()) {
    const int windowBits = coding == ContentCoding::Gzip ? 15 + 16 : 15;
    if (deflateInit2(&stream_->z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot compress");
}

StreamCompressor::~StreamCompressor() {
    deflateEnd(&stream_->z);
}

std::string StreamCompressor::compress(std::string_view piece, bool last) {
    z_stream& z = stream_->z;
    std::string out;
    char buffer[64 * 1024];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    z.avail_in = static_cast<uInt>(piece.size());
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0);
    return out;
}

std::optional<std::string> compressedBody(const ReplyBody& body, ContentCoding coding) {
    z_stream stream{};
    // Level 6, zlib's own default, is what a web server typically uses.
    const int windowBits = coding == ContentCoding::Gzip ? 15 + 16 : 15;
    if (deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    struct End {
        z_stream& stream;
        ~End() { deflateEnd(&stream); }
    } const end{stream};

    std::string out;
    char buffer[64 * 1024];
    const auto pump = [&](const char* data, std::size_t size, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream.avail_in = static_cast<uInt>(size);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            const int status = deflate(&stream, flush);
            if (status == Z_STREAM_ERROR) return false;
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
        return true;
    };
    const bool written = body.write(
        [&](const char* data, std::size_t size) {
            // zlib counts in 32 bits; the body's pieces are far smaller, but split to be sure.
            constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;
            for (std::size_t at = 0; at < size; at += kMostAtOnce) {
                if (!pump(data + at, std::min(kMostAtOnce, size - at), Z_NO_FLUSH)) return false;
            }
            return true;
        },
        body.size());
    if (!written || !pump(nullptr, 0, Z_FINISH)) return std::nullopt;
    return out;
}

}  // namespace ovk::refservice
