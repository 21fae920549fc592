// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "soap/reply_body.hpp"
#include "xml/document.hpp"

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
    // Replies up to this size are read without libxml2's parser when they can be (see
    // readSmallReply); 0 reads every reply with libxml2.
    std::size_t quickReadUpTo = std::size_t{64} << 10;
};

// Builds the document of a service reply. The body is collected as it arrives and parsed in
// place, in one piece, once it is complete: the verdict never depends on how the network split
// the bytes, and the time is linear in the size. Large CDATA sections of plain ASCII (a
// payload's Base64) are set apart as they arrive and become their nodes' text without being
// read by the parser or copied (see ReplyBody); the first other large text is not copied out
// of the body either: the body becomes its allocation once the parse is over. Follows the
// rules for service replies: no network, no DTD, no entity expansion, a DOCTYPE refused
// outright, and no size limit on single text nodes (a reply may carry megabytes of Base64 in
// one CDATA section), but a bound on depth and on the memory the tree takes (ReplyLimits).
class ReplyParser {
  public:
    explicit ReplyParser(ReplyLimits limits = {});
    ~ReplyParser();
    ReplyParser(const ReplyParser&) = delete;
    ReplyParser& operator=(const ReplyParser&) = delete;

    // The length the service announced for the body, before the first piece; only a hint
    // for sizing the buffers.
    void expect(std::uint64_t length) { body_.expect(length); }
    // Keeps the next piece of the body. Returns false when it cannot be kept (out of memory).
    bool feed(const char* data, std::size_t size);
    std::uint64_t size() const { return body_.size(); }
    // The whole body, for a reader that goes through it once without building a tree; empty
    // when a large section was set apart, since only the tree takes such a section over.
    std::string_view wholeBody();

    // Parses what was fed and hands over the document. Throws xml::ParseError when the text is
    // not a complete, well-formed document without DOCTYPE; Error(err::SoapReplyTooLarge) when
    // it breaks a limit, naming it; Error(err::SoapTimeout) when parsing runs past `deadline`
    // or a bound set by limitTime().
    xml::Document finish(std::chrono::steady_clock::time_point deadline =
                             std::chrono::steady_clock::time_point::max());
    // Bounds the parse by `deadline` too (the earliest bound holds), also while finish() runs
    // on another thread: a reply fetched ahead may be read before its call sets the bound.
    void limitTime(std::chrono::steady_clock::time_point deadline);

    struct State;

  private:
    xml::Document parse();

    // Declared before the state, so that it goes after it: the parser reads the body in place.
    ReplyBody body_;
    std::unique_ptr<State> state_;
    ReplyLimits limits_;
    std::atomic<std::chrono::steady_clock::time_point> deadline_{
        std::chrono::steady_clock::time_point::max()};
    bool finished_ = false;
};

}  // namespace ovk::soap
