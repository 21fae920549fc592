// SPDX-License-Identifier: MIT
#include "soap/streamed_reply.hpp"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "soap/envelope.hpp"
#include "soap/streamed_reply_frame.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk::soap {

namespace {

constexpr std::string_view kSoapEncodingNs = "http://schemas.xmlsoap.org/soap/encoding/";
// libxml2 follows any depth once its own caps are lifted; receivers bound what they keep by
// depth far below this, and a reply of nothing but start tags must still end soon.
constexpr int kMaxDepth = 1024;

// How many nodes go by between two looks at the clock.
constexpr unsigned kNodesPerClockCheck = 4096;
// Reading a reply of a hundred thousand rows takes a good part of a second; the caller's
// windows must not stand still for that long.
constexpr std::chrono::milliseconds kCallInterval{50};
// The ampersand as libxml2 leaves it in an attribute value for a tree builder to resolve.
constexpr std::string_view kEscapedAmpersand = "&#38;";

std::string_view view(const xmlChar* text) {
    return text == nullptr ? std::string_view() : reinterpret_cast<const char*>(text);
}

// True when a DOCTYPE stands before the document element: the tree reader refuses it before
// reading on, and says so, whatever else is wrong with the reply.
bool hasDoctype(std::string_view body) {
    std::size_t at = 0;
    while (true) {
        at = body.find('<', at);
        if (at == std::string_view::npos) return false;
        const std::string_view rest = body.substr(at);
        if (rest.starts_with("<!DOCTYPE")) return true;
        std::string_view end;
        if (rest.starts_with("<?"))
            end = "?>";
        else if (rest.starts_with("<!--"))
            end = "-->";
        else
            return false;
        at = body.find(end, at);
        if (at == std::string_view::npos) return false;
    }
}

[[noreturn]] void notAnEnvelope(const char* what) {
    throw Error(err::SoapMalformedReply, what, "SoapClient");
}

// One attribute as libxml2's SAX2 interface hands it over: local name, prefix, namespace, and
// the value as [value, end).
struct SaxAttribute {
    const xmlChar* localName;
    const xmlChar* prefix;
    const xmlChar* uri;
    const xmlChar* value;
    const xmlChar* end;

    std::string_view text() const {
        return {reinterpret_cast<const char*>(value), static_cast<std::size_t>(end - value)};
    }
};

const SaxAttribute* attributesOf(const xmlChar** raw) {
    return reinterpret_cast<const SaxAttribute*>(raw);
}

}  // namespace

namespace detail {

void ReplyFrame::passNode(int depth) {
    if (depth > kMaxDepth) {
        throw ReplyTooDeep(err::SoapReplyTooLarge, "The reply nests elements deeper than " +
                                                       std::to_string(kMaxDepth) + " levels");
    }
    if (++nodes_ % kNodesPerClockCheck == 0) lookAtClock();
}

void ReplyFrame::lookAtClock() {
    const auto now = std::chrono::steady_clock::now();
    if (now > deadline_)
        throw Error(err::SoapTimeout, "The reply took longer to read than the time-out allows");
    if (whileReading_ && now >= nextCall_) {
        whileReading_();
        nextCall_ = std::chrono::steady_clock::now() + kCallInterval;
    }
}

bool ReplyFrame::handOver() {
    ++handedOver_;
    any_ = true;
    if (skip_ == 0) return true;
    --skip_;
    return false;
}

// The outcome is known, but the rest must be well-formed too: a reply that goes wrong after its
// value is no reply.
void ReplyFrame::settle(StreamedReply outcome) {
    outcome_ = outcome;
    stage_ = Stage::After;
}

void ReplyFrame::startElement(std::string_view localName, std::string_view uri,
                              std::span<const FrameAttribute> attributes) {
    endText();
    const int depth = open_++;
    passNode(depth);
    const auto isEnvelope = [&](std::string_view name) {
        return uri == kSoapEnvelopeNs && localName == name;
    };
    const auto hasHref = [&] {
        return std::ranges::any_of(attributes, [](const FrameAttribute& a) {
            return !a.prefixed && a.localName == "href";
        });
    };
    switch (stage_) {
        case Stage::Document:
            if (!isEnvelope("Envelope")) notAnEnvelope("The reply is not a SOAP 1.1 envelope");
            stage_ = Stage::Envelope;
            break;
        case Stage::Envelope:
            if (depth == 1 && isEnvelope("Body")) stage_ = Stage::Body;
            break;
        case Stage::Body: {
            if (depth != 2) break;
            const bool notRoot = std::ranges::any_of(attributes, [](const FrameAttribute& a) {
                return a.localName == "root" && a.uri == kSoapEncodingNs && a.value == "0";
            });
            if (notRoot) break;
            if (isEnvelope("Fault") || hasHref()) {
                outcome_ = StreamedReply::NeedsTree;
                break;
            }
            stage_ = wrapped_ ? Stage::Entry : Stage::Return;
            returnDepth_ = depth;
            break;
        }
        case Stage::Entry:
            if (depth != 3) break;
            if (hasHref()) {
                outcome_ = StreamedReply::NeedsTree;
                break;
            }
            stage_ = Stage::Return;
            returnDepth_ = depth;
            break;
        case Stage::Return:
            if (!handOver()) break;
            attributes_.clear();
            for (const FrameAttribute& a : attributes) attributes_.push_back({a.name, a.value});
            events_.startElement(depth - returnDepth_, attributes_);
            break;
        case Stage::After:
            break;
    }
}

void ReplyFrame::endElement() {
    endText();
    const int depth = --open_;
    passNode(depth);
    switch (stage_) {
        case Stage::Envelope:
            if (depth == 0) notAnEnvelope("The reply envelope has no body");
            break;
        case Stage::Body:
            if (depth == 1) settle(StreamedReply::Empty);
            break;
        case Stage::Entry:
            if (depth == 2) settle(StreamedReply::Empty);
            break;
        case Stage::Return:
            if (depth == returnDepth_) {
                settle(any_ ? StreamedReply::Read : StreamedReply::Empty);
            } else if (handOver()) {
                events_.endElement(depth - returnDepth_);
            }
            break;
        case Stage::Document:
        case Stage::After:
            break;
    }
}

void ReplyFrame::text(std::string_view text) {
    if (!inText_) {
        inText_ = true;
        textCounts_ = false;
        passNode(open_);
    }
    if (textCounts_) return;
    textCounts_ = std::ranges::any_of(
        text, [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
}

void ReplyFrame::endText() {
    if (!inText_) return;
    inText_ = false;
    if (textCounts_ && stage_ == Stage::Return && handOver())
        events_.otherNode(open_ - returnDepth_);
}

void ReplyFrame::otherNode() {
    endText();
    passNode(open_);
    if (stage_ == Stage::Return && handOver()) events_.otherNode(open_ - returnDepth_);
}

}  // namespace detail

namespace {

using detail::FrameAttribute;
using detail::ReplyFrame;

// Reads a reply with libxml2's SAX2 interface, which builds no node for what it reads, and
// hands what it reads to a frame. libxml2 calls back through C frames, so nothing may be
// thrown out of a callback: what a callback throws is kept, the parser is stopped, and the
// throw is repeated once the parse has returned.
class SaxReply {
  public:
    SaxReply(std::string_view body, ReplyFrame& frame) : body_(body), frame_(frame) {}

    StreamedReply read();

  private:
    struct ContextFree {
        void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
    };

    static xmlSAXHandler handler();
    static int readBody(void* self, char* buffer, int size);

    // Runs `work` for a callback unless the reading has stopped; keeps what it throws.
    template <class Work>
    static void guarded(void* self, Work&& work) {
        auto& reply = *static_cast<SaxReply*>(self);
        if (!reply.stopped_) {
            try {
                work(reply);
                if (reply.frame_.needsTree()) reply.stopped_ = true;
            } catch (...) {
                reply.thrown_ = std::current_exception();
                reply.stopped_ = true;
            }
        }
        if (reply.stopped_ && !reply.halted_) {
            reply.halted_ = true;
            xmlStopParser(reply.ctxt_.get());
        }
    }
    static void onStart(void* self, const xmlChar* localName, const xmlChar* /*prefix*/,
                        const xmlChar* uri, int /*namespaces*/, const xmlChar** /*declared*/,
                        int attributes, int /*defaulted*/, const xmlChar** values) {
        guarded(self, [&](SaxReply& r) {
            r.frame_.startElement(
                view(localName), view(uri),
                r.attributes({attributesOf(values), static_cast<std::size_t>(attributes)}));
        });
    }
    static void onEnd(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        guarded(self, [](SaxReply& r) { r.frame_.endElement(); });
    }
    static void onText(void* self, const xmlChar* text, int length) {
        guarded(self, [&](SaxReply& r) {
            r.frame_.text({reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)});
        });
    }
    static void onOther(void* self) {
        guarded(self, [](SaxReply& r) { r.frame_.otherNode(); });
    }
    static void onCdata(void* self, const xmlChar*, int) { onOther(self); }
    static void onComment(void* self, const xmlChar*) { onOther(self); }
    static void onInstruction(void* self, const xmlChar*, const xmlChar*) { onOther(self); }
    static void onDoctype(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        guarded(self, [](SaxReply& r) { r.doctype_ = true; });
        static_cast<SaxReply*>(self)->stopped_ = true;
    }
    static void onError(void* self, xmlErrorPtr error);

    std::span<const FrameAttribute> attributes(std::span<const SaxAttribute> attributes);
    [[noreturn]] void throwParseFailure() const;

    std::string_view body_;
    std::size_t fed_ = 0;
    ReplyFrame& frame_;
    std::unique_ptr<xmlParserCtxt, ContextFree> ctxt_;
    bool doctype_ = false;
    bool stopped_ = false;
    bool halted_ = false;
    std::exception_ptr thrown_;
    std::optional<xml::detail::RawError> error_;
    std::string scratch_;
    std::vector<FrameAttribute> attributes_;
};

xmlSAXHandler SaxReply::handler() {
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &SaxReply::onStart;
    sax.endElementNs = &SaxReply::onEnd;
    sax.characters = &SaxReply::onText;
    sax.ignorableWhitespace = &SaxReply::onText;
    sax.cdataBlock = &SaxReply::onCdata;
    sax.comment = &SaxReply::onComment;
    sax.processingInstruction = &SaxReply::onInstruction;
    sax.internalSubset = &SaxReply::onDoctype;
    sax.serror = &SaxReply::onError;
    return sax;
}

// The parser pulls the body in pieces, so that it never holds a copy of a large reply.
int SaxReply::readBody(void* self, char* buffer, int size) {
    auto& reply = *static_cast<SaxReply*>(self);
    const std::size_t count =
        std::min(static_cast<std::size_t>(std::max(size, 0)), reply.body_.size() - reply.fed_);
    std::memcpy(buffer, reply.body_.data() + reply.fed_, count);
    reply.fed_ += count;
    return static_cast<int>(count);
}

StreamedReply SaxReply::read() {
    xmlSAXHandler sax = handler();
    ctxt_.reset(xmlCreateIOParserCtxt(&sax, this, &SaxReply::readBody, nullptr, this,
                                      XML_CHAR_ENCODING_NONE));
    if (!ctxt_) throw Error(err::OutOfMemory, "Out of memory");
    // HUGE lifts libxml2's own cap on depth and text size: the receiver keeps its own bounds,
    // which it can name to the user. Entities are never expanded and a DOCTYPE sends the reply
    // to the tree reader, which refuses it.
    xmlCtxtUseOptions(ctxt_.get(), XML_PARSE_NONET | XML_PARSE_HUGE);
    xmlParseDocument(ctxt_.get());
    if (thrown_) std::rethrow_exception(thrown_);
    if (doctype_ || frame_.needsTree()) return StreamedReply::NeedsTree;
    if (error_ || ctxt_->wellFormed == 0) throwParseFailure();
    if (!frame_.outcome()) notAnEnvelope("The reply is not a SOAP 1.1 envelope");
    return *frame_.outcome();
}

void SaxReply::onError(void* self, xmlErrorPtr error) {
    auto& reply = *static_cast<SaxReply*>(self);
    if (reply.error_ || reply.stopped_ || error == nullptr || error->level < XML_ERR_ERROR) return;
    std::string reason = error->message != nullptr ? error->message : "unknown error";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    reply.error_ = xml::detail::RawError{reason, error->line, error->int2, nullptr};
    // Stopping the parser from inside its error report is not safe; the next callback does.
    reply.stopped_ = true;
}

void SaxReply::throwParseFailure() const {
    const xml::detail::RawError raw =
        error_ ? *error_ : xml::detail::RawError{"The reply is not well-formed", 0, 0, nullptr};
    throw xml::ParseError(xml::detail::describe(
        raw, [&](long line) { return xml::detail::lineOfText(body_, line); }));
}

// The attributes with qualified names, and values with the ampersand that libxml2 leaves
// escaped for a tree builder resolved. Nothing else in a value can hold an ampersand, as a
// literal one is no well-formed attribute.
std::span<const FrameAttribute> SaxReply::attributes(std::span<const SaxAttribute> attributes) {
    std::size_t extra = 0;
    for (const SaxAttribute& a : attributes) {
        if (a.prefix != nullptr) extra += view(a.prefix).size() + 1 + view(a.localName).size();
        if (a.text().find('&') != std::string_view::npos) extra += a.text().size();
    }
    // Reserved in full first, so that the views into it stay valid while it fills.
    scratch_.clear();
    scratch_.reserve(extra);
    attributes_.clear();
    for (const SaxAttribute& a : attributes) {
        FrameAttribute attribute{view(a.localName), view(a.localName), view(a.uri), a.text(),
                                 a.prefix != nullptr};
        if (a.prefix != nullptr) {
            const std::size_t at = scratch_.size();
            scratch_.append(view(a.prefix)).append(1, ':').append(attribute.localName);
            attribute.name = std::string_view(scratch_).substr(at);
        }
        if (attribute.value.find('&') != std::string_view::npos) {
            const std::size_t at = scratch_.size();
            const std::string_view value = attribute.value;
            for (std::size_t from = 0; from < value.size();) {
                const std::size_t amp = value.find(kEscapedAmpersand, from);
                scratch_.append(value.substr(from, amp - from));
                if (amp == std::string_view::npos) break;
                scratch_.append(1, '&');
                from = amp + kEscapedAmpersand.size();
            }
            attribute.value = std::string_view(scratch_).substr(at);
        }
        attributes_.push_back(attribute);
    }
    return attributes_;
}

}  // namespace

StreamedReply readStreamedReply(std::string_view body, bool wrapped,
                                std::chrono::steady_clock::time_point deadline,
                                xml::ElementEvents& events,
                                const std::function<void()>& whileReading) {
    // The tree reader explains an empty reply as it explains every other malformed one.
    if (body.empty() || hasDoctype(body)) return StreamedReply::NeedsTree;
    // The plain reader first; where it is unsure, libxml2 reads the reply again, and the
    // receiver is not told twice what it heard already.
    ReplyFrame frame(wrapped, deadline, events, whileReading);
    if (detail::scanReply(body, frame)) {
        if (frame.needsTree()) return StreamedReply::NeedsTree;
        if (!frame.outcome()) notAnEnvelope("The reply is not a SOAP 1.1 envelope");
        return *frame.outcome();
    }
    ReplyFrame again(wrapped, deadline, events, whileReading, frame.handedOver());
    return SaxReply(body, again).read();
}

}  // namespace ovk::soap
