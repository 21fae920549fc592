// SPDX-License-Identifier: MIT
#include "soap/reply_stream.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <vector>

#include "platform/errors.hpp"
#include "soap/reply_envelope.hpp"
#include "soap/reply_parser.hpp"

namespace ovk::soap {
namespace {

// The qualified names of the elements open when the last element started, read by libxml2's
// push parser from a reply's beginning.
struct OpenElements {
    std::vector<std::string> open;
    std::vector<std::string> atLastStart;

    static void start(void* self, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int,
                      const xmlChar**, int, int, const xmlChar**) {
        auto& elements = *static_cast<OpenElements*>(self);
        std::string name = prefix == nullptr
                               ? std::string()
                               : reinterpret_cast<const char*>(prefix) + std::string(":");
        elements.open.push_back(name + reinterpret_cast<const char*>(local));
        elements.atLastStart = elements.open;
    }
    static void end(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        auto& elements = *static_cast<OpenElements*>(self);
        if (!elements.open.empty()) elements.open.pop_back();
    }
};

// The elements open at the end of `text` (the last one started), or nothing when libxml2 finds
// the text not well-formed so far.
std::optional<std::vector<std::string>> openAtLastStart(const std::string& text) {
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &OpenElements::start;
    sax.endElementNs = &OpenElements::end;
    OpenElements elements;
    xmlParserCtxtPtr context = xmlCreatePushParserCtxt(&sax, &elements, nullptr, 0, nullptr);
    if (context == nullptr) throw Error(err::OutOfMemory, "Out of memory");
    xmlCtxtUseOptions(context, XML_PARSE_NONET);
    xmlParseChunk(context, text.data(), static_cast<int>(text.size()), 0);
    const bool wellFormed = context->wellFormed != 0;
    xmlFreeParserCtxt(context);
    if (!wellFormed) return std::nullopt;
    return elements.atLastStart;
}

bool isTagEnd(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

}  // namespace

ReplyStream::ReplyStream(ItemReceiver& content, bool wrapped, std::string item,
                         std::size_t maxDepth)
    : content_(content), wrapped_(wrapped), item_(std::move(item)), maxDepth_(maxDepth) {}

ReplyStream::~ReplyStream() = default;

void ReplyStream::restart() {
    head_.clear();
    tail_.clear();
    searchFrom_ = 0;
    itemDepth_ = 0;
    reader_.reset();
    verdict_ = Verdict::Undecided;
}

ReplyStream::Verdict ReplyStream::feed(std::string_view piece) {
    if (verdict_ == Verdict::Undecided) {
        head_.append(piece);
        decide();
        return verdict_;
    }
    if (verdict_ == Verdict::Declined) return verdict_;
    if (!reader_->ended()) piece.remove_prefix(reader_->feed(piece));
    if (tail_.size() + piece.size() > kMostKept)
        throw Error(
            err::SoapReplyTooLarge,
            "The reply holds more than " + std::to_string(kMostKept) + " bytes after its item");
    tail_.append(piece);
    return verdict_;
}

void ReplyStream::decide() {
    const std::string opening = "<" + item_;
    for (;;) {
        const std::size_t at = head_.find(opening, searchFrom_);
        if (at == std::string::npos || at + opening.size() >= head_.size()) break;
        if (!isTagEnd(head_[at + opening.size()])) {
            searchFrom_ = at + 1;
            continue;
        }
        // The start tag's end, outside quoted values.
        char quote = 0;
        std::size_t end = at + opening.size();
        for (; end < head_.size(); ++end) {
            const char c = head_[end];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        if (end == head_.size()) break;  // the tag goes on in the next piece
        searchFrom_ = at + 1;
        if (head_[end - 1] == '/' || !isItemAt(end)) continue;
        startContent(end + 1);
        return;
    }
    if (head_.size() > kMostKept) verdict_ = Verdict::Declined;
}

bool ReplyStream::isItemAt(std::size_t end) {
    const std::string prefix = head_.substr(0, end + 1);
    const auto open = openAtLastStart(prefix + "</" + item_ + ">");
    if (!open || open->empty() || open->back() != item_) return false;
    std::string skeleton = prefix + "</" + item_ + ">";
    for (auto name = open->rbegin() + 1; name != open->rend(); ++name)
        skeleton += "</" + *name + ">";
    try {
        ReplyParser parser;
        if (!parser.feed(skeleton.data(), skeleton.size())) return false;
        const xml::Document document = parser.finish();
        const ReplyEnvelope envelope = readReplyEnvelope(document, wrapped_);
        if (envelope.fault || !envelope.returnElement) return false;
        xml::Node returned = envelope.returnElement;
        returned.dropWhitespaceText();
        const xml::Node first = returned.firstChild();
        if (!first.isElement() || first.localName() != item_ || first.hasChildNodes() ||
            first.nextSibling())
            return false;
        preserves_ = xmlNodeGetSpacePreserve(first.raw()) == 1;
    } catch (const Error&) {
        return false;
    }
    itemDepth_ = open->size();
    return true;
}

void ReplyStream::startContent(std::size_t tagEnd) {
    verdict_ = Verdict::Streaming;
    const std::size_t levels = maxDepth_ > itemDepth_ ? maxDepth_ - itemDepth_ : 0;
    reader_ = std::make_unique<xml::ContentStream>(content_, levels, item_);
    content_.begin(preserves_);
    std::string rest = head_.substr(tagEnd);
    head_.resize(tagEnd);
    feed(rest);
}

std::string ReplyStream::takeBack() {
    if (verdict_ == Verdict::Undecided) verdict_ = Verdict::Declined;
    return std::move(head_);
}

std::string ReplyStream::skeleton() const {
    if (!reader_ || !reader_->ended())
        throw Error(err::SoapMalformedReply,
                    "The reply is not well-formed XML: it ends inside "
                    "the element " +
                        item_);
    return head_ + "</" + item_ + ">" + tail_;
}

}  // namespace ovk::soap
