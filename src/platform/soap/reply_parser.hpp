#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/xml/document.hpp"

namespace ovk::soap {

// What a reply may cost beyond its bytes.
struct ReplyLimits {
    // Elements nested deeper than this are refused (libxml2's own default depth).
    std::size_t maxDepth = 256;
    // The document tree may take the reply's own size plus this much memory. Every element,
    // attribute, text, comment and processing instruction is charged what it costs as a tree
    // node, so a reply of many small elements is refused long before it exhausts the host,
    // while one large Base64 text costs little more than its bytes.
    std::uint64_t treeAllowance = std::uint64_t{56} << 20;
};

// Builds the document of a service reply. The body is collected as it arrives and parsed in
// place, in one piece, once it is complete: the verdict never depends on how the network split
// the bytes, and the time is linear in the size. The first large text (a payload's Base64)
// is not copied out of the body; the body becomes its allocation once the parse is over, so
// a payload reply costs its size about once rather than twice. Follows the rules for service
// replies: no network, no DTD, no entity expansion, a DOCTYPE refused outright, and no size
// limit on single text nodes (a reply may carry megabytes of Base64 in one CDATA section),
// but a bound on depth and on the memory the tree takes (ReplyLimits).
class ReplyParser {
  public:
    explicit ReplyParser(ReplyLimits limits = {});
    ~ReplyParser();
    ReplyParser(const ReplyParser&) = delete;
    ReplyParser& operator=(const ReplyParser&) = delete;

    // Keeps the next piece of the body. Returns false when it cannot be kept (out of memory).
    bool feed(const char* data, std::size_t size);
    std::uint64_t size() const { return size_; }
    // What was fed, for a reader that goes through it once without building a tree.
    std::string_view body() const { return {body_, size_}; }

    // Parses what was fed and hands over the document. Throws xml::ParseError when the text is
    // not a complete, well-formed document without DOCTYPE; Error(err::SoapReplyTooLarge) when
    // it breaks a limit, naming it; Error(err::SoapTimeout) when parsing runs past `deadline`.
    xml::Document finish(std::chrono::steady_clock::time_point deadline =
                             std::chrono::steady_clock::time_point::max());

    struct State;

  private:
    void startContext();
    xml::Document parse(std::chrono::steady_clock::time_point deadline, bool hideLargestSection);

    std::unique_ptr<State> state_;
    ReplyLimits limits_;
    char* body_ = nullptr;  // xmlMalloc'd: it may become a text node's content
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    char* spliced_ = nullptr;  // the body without its largest CDATA section's content
    bool finished_ = false;
};

}  // namespace ovk::soap
