#pragma once

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

// The body compressed whole; nothing when a file of it cannot be read.
std::optional<std::string> compressedBody(const ReplyBody& body, ContentCoding coding);

}  // namespace ovk::refservice
