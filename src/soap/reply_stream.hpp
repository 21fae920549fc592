// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "soap/service_client.hpp"
#include "xml/content_stream.hpp"

namespace ovk::soap {

// Reads a reply as it arrives when its return element holds an item: an element of a known
// name first among its children (white space aside), whose content may run to gigabytes. The
// item's content goes to the receiver as it is read and is never held; the rest of the reply
// (the envelope around the item, at most kMostKept bytes) is kept and read as any reply once
// the body is complete, so faults, envelopes and their checks stay what they are.
//
// Until the item's start tag shows where it stands, the reply is held. A reply that turns out
// to be anything else (a fault, an item elsewhere or of another name, an empty item, more than
// kMostKept bytes before any item) is declined: its bytes are handed back and it is read whole.
class ReplyStream {
  public:
    static constexpr std::size_t kMostKept = std::size_t{4} << 20;
    enum class Verdict { Undecided, Streaming, Declined };

    // `wrapped` as for readReplyEnvelope; `maxDepth` bounds the nesting of the whole reply.
    ReplyStream(ItemReceiver& content, bool wrapped, std::string item, std::size_t maxDepth);
    ~ReplyStream();

    // Forgets the reply read so far, for another attempt.
    void restart();
    // Reads the next piece of the body. What the receiver throws passes, as does ContentError
    // for an item that is not well-formed.
    Verdict feed(std::string_view piece);
    Verdict verdict() const { return verdict_; }
    // Declines the reply if still undecided and hands over the bytes held.
    std::string takeBack();
    // Streaming, with the whole body read: the reply with the item's content left out. Throws
    // Error(err::SoapMalformedReply) when the body ended inside the item.
    std::string skeleton() const;
    // Whether white space among the item's children is kept (xml:space="preserve" on it or
    // around it); known once Streaming.
    bool itemPreservesSpace() const { return preserves_; }

  private:
    void decide();
    // Whether the item's start tag ending at `end` is the return element's first child; sets
    // the depth the item stands at.
    bool isItemAt(std::size_t end);
    void startContent(std::size_t tagEnd);

    ItemReceiver& content_;
    bool wrapped_;
    std::string item_;
    std::size_t maxDepth_;
    std::string head_;  // the reply up to the item's start tag, or all of it while undecided
    std::string tail_;  // the reply after the item's end tag
    std::size_t searchFrom_ = 0;
    std::size_t itemDepth_ = 0;
    bool preserves_ = false;
    std::unique_ptr<xml::ContentStream> reader_;
    Verdict verdict_ = Verdict::Undecided;
};

}  // namespace ovk::soap
