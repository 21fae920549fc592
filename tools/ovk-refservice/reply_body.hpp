// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::refservice {

// A reply put together from text and from files that go out Base64-encoded. The length is
// known before anything is sent (the file sizes are taken when the catalogue loads), so
// multi-megabyte documents are streamed with a Content-Length and never held in memory whole.
class ReplyBody {
  public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    ReplyBody() = default;
    explicit ReplyBody(std::string text) { append(text); }

    void append(std::string_view text);
    // The text being built, to append to in place (the escaping helpers write into it).
    std::string& text();
    // The file goes out Base64-encoded, in lines of `lineLength` characters (0: one line).
    void appendBase64OfFile(const std::filesystem::path& path, std::uintmax_t size,
                            std::size_t lineLength = 0);
    void append(const ReplyBody& other);

    std::size_t size() const;
    // The first file that is gone or no longer has the size it had when the catalogue
    // loaded, or an empty text. Checked before a reply goes out, so that a broken catalogue
    // gives a fault rather than a reply cut short.
    std::string unreadableFile() const;

    // Writes the first `limit` bytes through `sink`. False when the sink refuses, a file cannot
    // be read, or a file no longer has the size it had (the promised length would be a lie).
    bool write(const Sink& sink, std::size_t limit) const;

    // Walks the pieces in order: a text piece with an empty path, or a file with its size.
    void forEachPiece(
        const std::function<void(std::string_view text, const std::filesystem::path& file,
                                 std::uintmax_t fileSize, std::size_t lineLength)>& visit) const {
        for (const Piece& piece : pieces_)
            visit(piece.text, piece.file, piece.fileSize, piece.lineLength);
    }

  private:
    struct Piece {
        std::string text;
        std::filesystem::path file;  // empty for a text piece
        std::uintmax_t fileSize = 0;
        std::size_t lineLength = 0;
    };
    std::vector<Piece> pieces_;
};

}  // namespace ovk::refservice
