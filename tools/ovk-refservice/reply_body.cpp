// SPDX-License-Identifier: MIT
#include "reply_body.hpp"

#include <algorithm>
#include <fstream>

#include "base64.hpp"

namespace ovk::refservice {
namespace {

// A multiple of 3, so that every chunk but the last encodes without padding.
constexpr std::size_t kChunkBytes = 3 * 64 * 1024;

bool streamFile(const std::filesystem::path& path, std::uintmax_t expected, std::size_t lineLength,
                std::size_t& budget, const ReplyBody::Sink& sink) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string raw(kChunkBytes, '\0');
    std::string encoded(base64Length(kChunkBytes), '\0');
    LineBreaker lines(lineLength);
    std::string wrapped;
    std::uintmax_t left = expected;
    while (left > 0 && budget > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uintmax_t>(left, kChunkBytes));
        in.read(raw.data(), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(in.gcount()) != want) return false;  // the file shrank
        left -= want;
        const std::size_t length = base64Length(want);
        encodeBase64(reinterpret_cast<const unsigned char*>(raw.data()), want, encoded.data());
        std::string_view out(encoded.data(), length);
        if (lineLength > 0) {
            wrapped.clear();
            lines.append(out, wrapped);
            out = wrapped;
        }
        const std::size_t n = std::min(out.size(), budget);
        if (!sink(out.data(), n)) return false;
        budget -= n;
    }
    return true;
}

}  // namespace

void ReplyBody::append(std::string_view text) {
    this->text().append(text);
}

std::string& ReplyBody::text() {
    if (pieces_.empty() || !pieces_.back().file.empty()) pieces_.emplace_back();
    return pieces_.back().text;
}

void ReplyBody::appendBase64OfFile(const std::filesystem::path& path, std::uintmax_t size,
                                   std::size_t lineLength) {
    pieces_.push_back({{}, path, size, lineLength});
}

void ReplyBody::append(const ReplyBody& other) {
    for (const Piece& piece : other.pieces_) {
        if (piece.file.empty())
            append(piece.text);
        else
            pieces_.push_back(piece);
    }
}

std::size_t ReplyBody::size() const {
    std::size_t total = 0;
    for (const Piece& piece : pieces_)
        total += piece.file.empty()
                     ? piece.text.size()
                     : wrappedLength(base64Length(static_cast<std::size_t>(piece.fileSize)),
                                     piece.lineLength);
    return total;
}

std::string ReplyBody::unreadableFile() const {
    for (const Piece& piece : pieces_) {
        if (piece.file.empty()) continue;
        std::error_code ec;
        const auto size = std::filesystem::file_size(piece.file, ec);
        if (ec || size != piece.fileSize) return piece.file.string();
    }
    return {};
}

bool ReplyBody::write(const Sink& sink, std::size_t limit) const {
    std::size_t budget = limit;
    for (const Piece& piece : pieces_) {
        if (budget == 0) break;
        if (piece.file.empty()) {
            const std::size_t n = std::min(piece.text.size(), budget);
            if (n > 0 && !sink(piece.text.data(), n)) return false;
            budget -= n;
        } else if (!streamFile(piece.file, piece.fileSize, piece.lineLength, budget, sink)) {
            return false;
        }
    }
    return true;
}

}  // namespace ovk::refservice
