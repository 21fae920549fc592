// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string_view>

#include "soap/reply_parser.hpp"
#include "xml/document.hpp"

namespace ovk::soap {

// Builds the document of a small reply straight from the markup scanner's pieces, without
// libxml2's parser: for a reply of a few kilobytes, setting up that parser and its byte-by-byte
// reading of CDATA cost several times what the transfer itself does.
//
// It reads only what it checks in full: UTF-8 (with or without its byte order mark) declared
// as such or not at all, XML 1.0 without a DOCTYPE, line ends without carriage returns, names
// of ASCII letters, digits and ".-_", the five predefined entities and character references,
// namespaces declared with an absolute URI. The document it builds is node for node what
// ReplyParser builds with libxml2 (names, namespaces, texts, CDATA sections joined as there,
// comments, processing instructions, the line of each element). Anything else, including every
// fault, gives nothing, and the caller parses the reply with libxml2, whose verdict and
// message then stand.
std::optional<xml::Document> readSmallReply(std::string_view body, const ReplyLimits& limits);

}  // namespace ovk::soap
