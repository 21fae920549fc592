// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operations.hpp"

namespace ovk::refservice {

// Ways the service can misbehave on purpose, so tests can see how a client copes.
enum class FaultKind {
    Http500,    // HTTP 500 with a plain-text body, no SOAP fault
    Http503,    // HTTP 503 Service Unavailable, with Retry-After when a number of seconds is given
    SoapFault,  // HTTP 500 with a SOAP fault (soap:Server)
    Malformed,  // HTTP 200 with a body that is not well-formed XML
    Truncated,  // a Content-Length larger than the body, then the connection closes (after
                // SIZE bytes when a size is given)
    Hang,       // no reply at all until the service stops
    Exception,  // the operation answers with an Exception element
    Empty,      // the operation's Result element is empty
    WrongRoot,  // the Result holds the item under Root, not root
    PlainText,  // the Result holds plain text
    // Oversized replies of a chosen size, streamed without a length:
    ElementStream,  // a Result holding nothing but <a/> elements
    HugeFault,      // a SOAP fault whose fault string is the whole size
    BadCdata,       // a CDATA section that starts with a control character
    GzipBomb,       // a Result of SIZE bytes of text, gzip-compressed as tightly as zlib can
};

// A fault to inject, with the size of the oversized kinds or the Retry-After seconds of
// http503 (nothing: no header).
struct Fault {
    FaultKind kind = FaultKind::Http500;
    std::uint64_t size = 0;
    std::optional<std::uint64_t> retryAfter;
};

std::string_view faultKindName(FaultKind kind);

// The faults asked for on the command line, each `OP=KIND` or `OP=KIND@ARG` (KIND may be
// `KIND:SIZE` for the oversized kinds and `http503:SECONDS` for a Retry-After), optionally
// followed by `xN`: OP is an operation name or "*" for all; with @ARG the fault applies only
// to calls one of whose arguments is exactly ARG (an article identifier, a project, a node
// key); with xN only the first N calls the rule matches misbehave, and later ones go on to the
// next rule or are answered as usual. Safe to consult from the server's threads at once.
class FaultPlan {
  public:
    FaultPlan() = default;
    FaultPlan(const FaultPlan& other);
    FaultPlan& operator=(const FaultPlan& other);

    // Throws std::invalid_argument with a message fit for the user.
    void add(std::string_view text);

    // The fault of the first rule that matches the call, if any. Counts the call against
    // that rule's xN.
    std::optional<FaultKind> faultFor(const Call& call) const;
    std::optional<Fault> matchingFault(const Call& call) const;

    bool empty() const { return rules_.empty(); }

  private:
    struct Rule {
        std::optional<Operation> operation;  // nothing: every operation
        FaultKind kind = FaultKind::Http500;
        std::uint64_t size = 0;
        std::optional<std::uint64_t> retryAfter;
        std::optional<std::string> argument;
        std::optional<std::uint64_t> times;  // nothing: every matching call
        mutable std::uint64_t used = 0;      // guarded by mutex_
    };
    std::vector<Rule> rules_;
    mutable std::mutex mutex_;
};

}  // namespace ovk::refservice
