// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "reply_body.hpp"

namespace ovk::refservice {

// HTTP's two zlib codings: "gzip", and "deflate", which HTTP means as the zlib format.
enum class ContentCoding { Gzip, Deflate };

std::string_view contentCodingName(ContentCoding coding);

// The coding to answer a request's Accept-Encoding with: gzip when it is offered, else deflate;
// nothing when neither is (a coding with q=0 counts as refused).
std::optional<ContentCoding> acceptedCoding(std::string_view acceptEncoding);

// Compresses a body that is streamed without a length, a piece at a time.
class StreamCompressor {
  public:
    // Throws std::runtime_error when zlib cannot start.
    StreamCompressor(ContentCoding coding, int level);
    ~StreamCompressor();
    StreamCompressor(const StreamCompressor&) = delete;
    StreamCompressor& operator=(const StreamCompressor&) = delete;

    // The compressed form of the next piece; with `last` the stream is finished.
    std::string compress(std::string_view piece, bool last);

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

// The body compressed whole; nothing when a file of it cannot be read.
std::optional<std::string> compressedBody(const ReplyBody& body, ContentCoding coding);

}  // namespace ovk::refservice
