// SPDX-License-Identifier: MIT
#include "soap/streamed_reply.hpp"

#include <libxml/xmlreader.h>

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "soap/envelope.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk::soap {

namespace {

constexpr std::string_view kSoapEncodingNs = "http://schemas.xmlsoap.org/soap/encoding/";
// libxml2 follows any depth once its own caps are lifted; each open level costs the reader a
// node, so a reply of nothing but start tags would cost dozens of times its size.
constexpr int kMaxDepth = 1024;
// How many nodes go by between two looks at the clock.
constexpr unsigned kNodesPerClockCheck = 4096;

struct ReaderFree {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};

std::string_view view(const xmlChar* text) {
    return text == nullptr ? std::string_view() : reinterpret_cast<const char*>(text);
}

class Reader {
  public:
    Reader(std::string_view body, std::chrono::steady_clock::time_point deadline,
           const std::function<void()>& whileReading)
        : deadline_(deadline), whileReading_(whileReading), body_(body) {
        if (body.size() > static_cast<std::size_t>(INT_MAX)) {
            throw xml::ParseError(xml::ParseFailure{"The reply is too large to read", 0, 0, {}});
        }
        // HUGE lifts libxml2's own cap on depth and text size: the receiver keeps its own
        // bounds, which it can name to the user. Entities are never expanded and a DOCTYPE
        // sends the reply to the tree reader, which refuses it.
        reader_.reset(xmlReaderForMemory(body.data(), static_cast<int>(body.size()), nullptr,
                                         nullptr, XML_PARSE_NONET | XML_PARSE_HUGE));
        if (!reader_) throw Error(err::OutOfMemory, "Out of memory");
        xmlTextReaderSetStructuredErrorHandler(reader_.get(), &Reader::onError, this);
    }

    // Moves to the next node; false at the end of the document.
    bool next() {
        if (++nodes_ % kNodesPerClockCheck == 0) lookAtClock();
        const int status = xmlTextReaderRead(reader_.get());
        if (status < 0 || error_) fail();
        if (status == 1 && xmlTextReaderDepth(reader_.get()) > kMaxDepth) {
            throw ReplyTooDeep(err::SoapReplyTooLarge, "The reply nests elements deeper than " +
                                                           std::to_string(kMaxDepth) + " levels");
        }
        return status == 1;
    }
    int type() const { return xmlTextReaderNodeType(reader_.get()); }
    int depth() const { return xmlTextReaderDepth(reader_.get()); }
    const xmlChar* value() const { return xmlTextReaderConstValue(reader_.get()); }
    bool isEmptyElement() const { return xmlTextReaderIsEmptyElement(reader_.get()) == 1; }
    std::string_view localName() const { return view(xmlTextReaderConstLocalName(reader_.get())); }
    std::string_view namespaceUri() const {
        return view(xmlTextReaderConstNamespaceUri(reader_.get()));
    }
    bool isEnvelope(std::string_view name) const {
        return type() == XML_READER_TYPE_ELEMENT && namespaceUri() == kSoapEnvelopeNs &&
               localName() == name;
    }
    std::optional<std::string> attribute(const char* name, const char* ns = nullptr) const {
        xmlChar* value =
            ns == nullptr
                ? xmlTextReaderGetAttribute(reader_.get(), reinterpret_cast<const xmlChar*>(name))
                : xmlTextReaderGetAttributeNs(reader_.get(), reinterpret_cast<const xmlChar*>(name),
                                              reinterpret_cast<const xmlChar*>(ns));
        if (value == nullptr) return std::nullopt;
        return xml::detail::take(value);
    }
    // The current element's attributes, namespace declarations left out as a tree leaves them.
    std::vector<xml::AttributeView>& attributes() {
        attributes_.clear();
        xmlTextReader* r = reader_.get();
        if (xmlTextReaderHasAttributes(r) != 1) return attributes_;
        for (int more = xmlTextReaderMoveToFirstAttribute(r); more == 1;
             more = xmlTextReaderMoveToNextAttribute(r)) {
            if (xmlTextReaderIsNamespaceDecl(r) == 1) continue;
            attributes_.push_back(
                {view(xmlTextReaderConstName(r)), view(xmlTextReaderConstValue(r))});
        }
        xmlTextReaderMoveToElement(r);
        return attributes_;
    }

  private:
    static void onError(void* self, xmlErrorPtr error) {
        auto& reader = *static_cast<Reader*>(self);
        if (reader.error_ || error == nullptr || error->level < XML_ERR_ERROR) return;
        std::string reason = error->message != nullptr ? error->message : "unknown error";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        reader.error_ = xml::detail::RawError{reason, error->line, error->int2, nullptr};
    }
    [[noreturn]] void fail() {
        const xml::detail::RawError raw =
            error_ ? *error_ : xml::detail::RawError{"The reply is not well-formed", 0, 0, nullptr};
        throw xml::ParseError(xml::detail::describe(
            raw, [&](long line) { return xml::detail::lineOfText(body_, line); }));
    }

    void lookAtClock() {
        const auto now = std::chrono::steady_clock::now();
        if (now > deadline_)
            throw Error(err::SoapTimeout, "The reply took longer to read than the time-out allows");
        // Reading a reply of a hundred thousand rows takes a good part of a second; the caller's
        // windows must not stand still for that long.
        if (whileReading_ && now >= nextCall_) {
            whileReading_();
            nextCall_ = std::chrono::steady_clock::now() + kCallInterval;
        }
    }

    static constexpr std::chrono::milliseconds kCallInterval{50};
    std::unique_ptr<xmlTextReader, ReaderFree> reader_;
    std::chrono::steady_clock::time_point deadline_;
    const std::function<void()>& whileReading_;
    // The first look calls at once: the transfer before the reading called last.
    std::chrono::steady_clock::time_point nextCall_{};
    std::string_view body_;
    std::optional<xml::detail::RawError> error_;
    std::vector<xml::AttributeView> attributes_;
    unsigned nodes_ = 0;
};

bool isBlankText(int type, const xmlChar* value) {
    if (type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE)
        return true;
    if (type != XML_READER_TYPE_TEXT) return false;
    for (std::string_view text = view(value); char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    }
    return true;
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

// Moves to the next element child of the element at `parentDepth`, passing over everything
// else; false when the parent ends first.
bool nextChildElement(Reader& reader, int parentDepth) {
    while (reader.next()) {
        if (reader.depth() <= parentDepth) return false;
        if (reader.depth() == parentDepth + 1 && reader.type() == XML_READER_TYPE_ELEMENT)
            return true;
    }
    return false;
}

}  // namespace

StreamedReply readStreamedReply(std::string_view body, bool wrapped,
                                std::chrono::steady_clock::time_point deadline,
                                xml::ElementEvents& events,
                                const std::function<void()>& whileReading) {
    // The tree reader explains an empty reply as it explains every other malformed one.
    if (body.empty() || hasDoctype(body)) return StreamedReply::NeedsTree;
    Reader reader(body, deadline, whileReading);
    // The rest must be well-formed too: a reply that goes wrong after its value is no reply.
    const auto readToEnd = [&](StreamedReply outcome) {
        while (reader.next()) {
        }
        return outcome;
    };
    // The document element, after whatever comes before it.
    do {
        if (!reader.next()) notAnEnvelope("The reply is not a SOAP 1.1 envelope");
        if (reader.type() == XML_READER_TYPE_DOCUMENT_TYPE) return StreamedReply::NeedsTree;
    } while (reader.type() != XML_READER_TYPE_ELEMENT);
    if (!reader.isEnvelope("Envelope")) notAnEnvelope("The reply is not a SOAP 1.1 envelope");
    if (reader.isEmptyElement()) notAnEnvelope("The reply envelope has no body");
    bool bodyFound = false;
    while (!bodyFound && nextChildElement(reader, 0)) bodyFound = reader.isEnvelope("Body");
    if (!bodyFound) notAnEnvelope("The reply envelope has no body");
    if (reader.isEmptyElement()) return readToEnd(StreamedReply::Empty);

    // The body's first entry that is a serialisation root.
    bool entry = false;
    while (nextChildElement(reader, 1)) {
        if (reader.attribute("root", kSoapEncodingNs.data()) != "0") {
            entry = true;
            break;
        }
    }
    if (!entry) return readToEnd(StreamedReply::Empty);
    if (reader.isEnvelope("Fault") || reader.attribute("href")) return StreamedReply::NeedsTree;
    int returnDepth = 2;
    if (wrapped) {
        if (reader.isEmptyElement() || !nextChildElement(reader, 2))
            return readToEnd(StreamedReply::Empty);
        if (reader.attribute("href")) return StreamedReply::NeedsTree;
        returnDepth = 3;
    }
    if (reader.isEmptyElement()) return readToEnd(StreamedReply::Empty);

    bool any = false;
    while (reader.next()) {
        const int depth = reader.depth() - returnDepth;
        if (depth <= 0) break;
        switch (reader.type()) {
            case XML_READER_TYPE_ELEMENT: {
                any = true;
                const bool empty = reader.isEmptyElement();
                events.startElement(depth, reader.attributes());
                if (empty) events.endElement(depth);
                break;
            }
            case XML_READER_TYPE_END_ELEMENT:
                events.endElement(depth);
                break;
            default:
                if (!isBlankText(reader.type(), reader.value())) {
                    any = true;
                    events.otherNode(depth);
                }
                break;
        }
    }
    return readToEnd(any ? StreamedReply::Read : StreamedReply::Empty);
}

}  // namespace ovk::soap
