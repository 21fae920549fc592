#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/xml/document.hpp"

namespace ovk::soap {

// Builds the document of a service reply from the pieces of the HTTP body as they arrive, so
// that a large reply is never held twice (once as text, once as a tree). Follows the rules for
// service replies: no network, no DTD, no entity expansion, a DOCTYPE refused outright, and no
// size limits on single text nodes (a reply may carry megabytes of Base64 in one CDATA section).
class ReplyParser {
  public:
    ReplyParser();
    ~ReplyParser();
    ReplyParser(const ReplyParser&) = delete;
    ReplyParser& operator=(const ReplyParser&) = delete;

    // Parses the next piece of the body. Returns false once the text has proved not to be
    // well-formed (or to carry a DOCTYPE); feeding more is then pointless.
    bool feed(const char* data, std::size_t size);

    // Ends the input and hands over the document. Throws xml::ParseError when the text was not
    // a complete, well-formed document (a truncated reply ends here).
    xml::Document finish();

    // The first problem found so far, if any.
    const std::optional<xml::ParseFailure>& failure() const { return failure_; }

    struct State;

  private:
    bool check();

    std::unique_ptr<State> state_;
    std::optional<xml::ParseFailure> failure_;
};

}  // namespace ovk::soap
