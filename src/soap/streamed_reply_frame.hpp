// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "soap/streamed_reply.hpp"
#include "xml/element_events.hpp"

// What the two readers of a streamed reply share: the way through the envelope to the return
// element, and what goes on to the receiver. Not part of the SOAP client's interface.
namespace ovk::soap::detail {

// One attribute of a start tag, its value with references resolved and white space normalised.
struct FrameAttribute {
    std::string_view name;  // as written: prefix:local or local
    std::string_view localName;
    std::string_view uri;  // empty: none
    std::string_view value;
    bool prefixed = false;
};

// Follows a reply's nodes, in document order, through the envelope to the return element and
// hands the return element's children to `events`. The first `skip` handovers are left out: a
// reader that takes over from another reads the reply again from its start and must not tell
// the receiver twice. Throws what the receiver throws, ReplyTooDeep past the depth bound,
// Error(SoapMalformedReply) for what is no envelope with a body, Error(SoapTimeout) past the
// deadline.
class ReplyFrame {
  public:
    ReplyFrame(bool wrapped, std::chrono::steady_clock::time_point deadline,
               xml::ElementEvents& events, const std::function<void()>& whileReading,
               std::size_t skip = 0)
        : wrapped_(wrapped),
          deadline_(deadline),
          events_(events),
          whileReading_(whileReading),
          skip_(skip) {}

    void startElement(std::string_view localName, std::string_view uri,
                      std::span<const FrameAttribute> attributes);
    void endElement();
    // A piece of character data; pieces that follow each other make one text node.
    void text(std::string_view text);
    // A CDATA section, a comment or a processing instruction.
    void otherNode();

    // The reply needs the whole tree: the reading can stop.
    bool needsTree() const { return outcome_ == StreamedReply::NeedsTree; }
    // What the whole reply held, once its document element has ended.
    std::optional<StreamedReply> outcome() const { return outcome_; }
    // How many handovers went to the receiver (or were left out).
    std::size_t handedOver() const { return handedOver_; }

  private:
    // Where the reading stands in the envelope around the return element.
    enum class Stage {
        Document,  // before the document element
        Envelope,  // in the envelope, looking for its body
        Body,      // in the body, looking for the first serialisation root
        Entry,     // in a wrapped reply's entry, looking for its first child element
        Return,    // in the return element: its children go to the receiver
        After,     // the outcome is known; the rest is only checked for well-formedness
    };

    // A text run ends at the next node of any other kind; only one that is not blank counts.
    void endText();
    void passNode(int depth);
    void lookAtClock();
    // Whether the receiver is told this handover.
    bool handOver();
    void settle(StreamedReply outcome);

    bool wrapped_;
    std::chrono::steady_clock::time_point deadline_;
    xml::ElementEvents& events_;
    const std::function<void()>& whileReading_;
    std::size_t skip_;
    std::size_t handedOver_ = 0;
    // The first look calls at once: the transfer before the reading called last.
    std::chrono::steady_clock::time_point nextCall_{};

    Stage stage_ = Stage::Document;
    std::optional<StreamedReply> outcome_;
    int open_ = 0;         // elements open; the document element stands at depth 0
    int returnDepth_ = 0;  // the return element's depth, once found
    bool any_ = false;     // the return element holds a node that counts
    bool inText_ = false;
    bool textCounts_ = false;
    unsigned nodes_ = 0;
    std::vector<xml::AttributeView> attributes_;
};

// Reads a reply held in memory without libxml2, for the shapes services send: UTF-8, elements
// and attributes with names in ASCII, namespaces, the predefined entities and character
// references. Everything it hands to `frame` is what libxml2 would hand over for the same text.
// Returns false, having stopped at once, when it meets anything else, including any fault in
// the text: libxml2 then reads the reply from its start and has the last word on it.
bool scanReply(std::string_view body, ReplyFrame& frame);

}  // namespace ovk::soap::detail
