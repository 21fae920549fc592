// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "platform/errors.hpp"
#include "xml/element_events.hpp"

namespace ovk::soap {

enum class StreamedReply {
    // The return element's children went to the receiver; it may have had none.
    Read,
    Empty,
    // The reply needs the whole tree to be read (a fault, a reference to another body entry, a
    // DOCTYPE to refuse): nothing went to the receiver.
    NeedsTree,
};

// A reply nested deeper than a reader that keeps no tree will follow.
struct ReplyTooDeep : Error {
    using Error::Error;
};

// Reads a SOAP 1.1 reply body as it stands in memory, one node at a time, and hands the children
// of its return element (found as readReplyEnvelope finds it) to `events`. The whole body is
// read, so a reply that breaks off after the return element still fails. Elements may nest
// 1024 levels deep, as receivers bound what they keep by depth far below that. Throws
// ReplyTooDeep (SoapReplyTooLarge) past that depth, xml::ParseError when the text is not
// well-formed, Error(err::SoapMalformedReply) when it is not
// an envelope with a body, Error(err::SoapTimeout) past `deadline`; what `events` throws passes
// through unchanged. `whileReading`, when given, is called about every 50 ms of reading.
StreamedReply readStreamedReply(std::string_view body, bool wrapped,
                                std::chrono::steady_clock::time_point deadline,
                                xml::ElementEvents& events,
                                const std::function<void()>& whileReading = {});

}  // namespace ovk::soap
