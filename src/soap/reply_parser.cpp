// SPDX-License-Identifier: MIT
#include "soap/reply_parser.hpp"

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.hpp"
#include "soap/small_reply.hpp"
#include "xml/libxml_handles.hpp"
#include "xml/markup_scanner.hpp"

namespace ovk::soap {

using xml::detail::ErrorCollector;
using xml::detail::ParserCtxtPtr;

namespace {

using Clock = std::chrono::steady_clock;

// What one node of the tree costs beyond its text: the node itself (xmlNode is 120 bytes), the
// allocator's overhead and its share of the name dictionary. Measured with element streams;
// rounded up so that the charge stays above the real cost.
constexpr std::uint64_t kNodeCost = 192;
// The clock is read once per this many parser callbacks.
constexpr unsigned kCallsPerClockCheck = 1024;

enum class Stop { None, Doctype, Depth, Tree, Deadline, OutOfMemory };

}  // namespace

struct ReplyParser::State {
    ParserCtxtPtr ctxt;
    ReplyLimits limits;
    const std::atomic<Clock::time_point>* deadline = nullptr;
    std::uint64_t bodySize = 0;
    std::uint64_t charged = 0;
    std::size_t depth = 0;
    unsigned callsSinceClockCheck = 0;
    Stop stop = Stop::None;
    // The text or CDATA node being filled and its allocation: libxml2's own xmlTextConcat
    // measures and reallocates the whole text for every 300-byte block.
    xmlNode* openText = nullptr;
    std::size_t textLength = 0;
    std::size_t textCapacity = 0;
    // The CDATA sections set apart from the body (see ReplyBody), in the order of their empty
    // places in what the parser reads, and the next one to be met; which of the body's empty
    // sections (counted from 0) each stands in, and how many empty ones the parser has met.
    std::vector<ReplyBody::Section>* sections = nullptr;
    std::size_t nextSection = 0;
    std::vector<std::size_t> apartAmongEmpty;
    std::size_t emptyMet = 0;

    std::uint64_t budget() const { return bodySize + limits.treeAllowance; }
};

namespace {

ReplyParser::State& stateOf(void* ctx) {
    return *static_cast<ReplyParser::State*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

bool halt(void* ctx, Stop reason) {
    ReplyParser::State& state = stateOf(ctx);
    if (state.stop == Stop::None) state.stop = reason;
    xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
    return false;
}

// Charges a new piece of the tree and looks at the clock now and then; false once the parse
// has to stop.
bool charge(void* ctx, std::uint64_t bytes) {
    ReplyParser::State& state = stateOf(ctx);
    if (state.stop != Stop::None) return false;
    state.charged += bytes;
    if (state.charged > state.budget()) return halt(ctx, Stop::Tree);
    if (++state.callsSinceClockCheck >= kCallsPerClockCheck) {
        state.callsSinceClockCheck = 0;
        if (Clock::now() > state.deadline->load(std::memory_order_relaxed))
            return halt(ctx, Stop::Deadline);
    }
    return true;
}

void refuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    halt(ctx, Stop::Doctype);
}

// Gives back the spare room of the text filled last; a document kept for the rest of the
// session should not carry up to twice its text.
void closeText(ReplyParser::State& state) {
    if (state.openText == nullptr) return;
    if (state.textCapacity > state.textLength + 1) {
        auto* fitted =
            static_cast<xmlChar*>(xmlRealloc(state.openText->content, state.textLength + 1));
        if (fitted != nullptr) state.openText->content = fitted;
    }
    state.openText = nullptr;
    state.textLength = state.textCapacity = 0;
}

void linkLast(xmlNode* parent, xmlNode* node) {
    node->parent = parent;
    node->doc = parent->doc;
    if (parent->last != nullptr) {
        parent->last->next = node;
        node->prev = parent->last;
    } else {
        parent->children = node;
    }
    parent->last = node;
}

// Text and CDATA arrive in blocks; consecutive blocks of one kind make one node. The node's
// room grows by doubling but never beyond the reply's size, which no text can exceed.
void appendText(void* ctx, const xmlChar* value, int len, xmlElementType type) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ReplyParser::State& state = stateOf(ctx);
    xmlNode* parent = ctxt->node;
    if (parent == nullptr || len < 0 || state.stop != Stop::None) return;
    const auto add = static_cast<std::size_t>(len);
    if (state.openText != nullptr && parent->last == state.openText &&
        state.openText->type == type) {
        const std::size_t needed = state.textLength + add + 1;
        if (needed > state.textCapacity) {
            const std::size_t ceiling =
                static_cast<std::size_t>(std::max<std::uint64_t>(state.bodySize + 1, needed));
            const std::size_t capacity =
                std::max(needed, std::min(state.textCapacity * 2, ceiling));
            if (!charge(ctx, capacity - state.textCapacity)) return;
            auto* grown = static_cast<xmlChar*>(xmlRealloc(state.openText->content, capacity));
            if (grown == nullptr) {
                halt(ctx, Stop::OutOfMemory);
                return;
            }
            state.openText->content = grown;
            state.textCapacity = capacity;
        }
        std::memcpy(state.openText->content + state.textLength, value, add);
        state.textLength += add;
        state.openText->content[state.textLength] = 0;
        return;
    }
    if (!charge(ctx, kNodeCost + add + 1)) return;
    closeText(state);
    xmlNode* node = type == XML_CDATA_SECTION_NODE ? xmlNewCDataBlock(ctxt->myDoc, value, len)
                                                   : xmlNewDocTextLen(ctxt->myDoc, value, len);
    if (node == nullptr) {
        halt(ctx, Stop::OutOfMemory);
        return;
    }
    linkLast(parent, node);
    state.openText = node;
    state.textLength = add;
    state.textCapacity = add + 1;
}

void onCharacters(void* ctx, const xmlChar* value, int len) {
    appendText(ctx, value, len, XML_TEXT_NODE);
}

// The empty section the parser met in place of a section set apart becomes a CDATA node that
// takes the set-apart content over as its text.
void takeSection(void* ctx, ReplyBody::Section& section) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ReplyParser::State& state = stateOf(ctx);
    xmlNode* parent = ctxt->node;
    ++state.nextSection;
    if (parent == nullptr || state.stop != Stop::None) return;
    // Right after another section, it joins that one's node, as sections read in place do.
    if (state.openText != nullptr && parent->last == state.openText &&
        state.openText->type == XML_CDATA_SECTION_NODE) {
        appendText(ctx, reinterpret_cast<const xmlChar*>(section.data),
                   static_cast<int>(
                       std::min<std::size_t>(section.length, std::numeric_limits<int>::max())),
                   XML_CDATA_SECTION_NODE);
        return;
    }
    if (!charge(ctx, kNodeCost + section.length + 1)) return;
    closeText(state);
    xmlNode* node = xmlNewCDataBlock(ctxt->myDoc, nullptr, 0);
    if (node == nullptr) {
        halt(ctx, Stop::OutOfMemory);
        return;
    }
    linkLast(parent, node);
    node->content = reinterpret_cast<xmlChar*>(std::exchange(section.data, nullptr));
    state.openText = node;
    state.textLength = section.length;
    state.textCapacity = section.length + 1;
}

// The parser calls with nothing for an empty section only: the set-apart sections are found
// among the empty ones by their count.
void onCdata(void* ctx, const xmlChar* value, int len) {
    ReplyParser::State& state = stateOf(ctx);
    if (len == 0 && state.nextSection < state.apartAmongEmpty.size()) {
        const bool apart = state.apartAmongEmpty[state.nextSection] == state.emptyMet;
        ++state.emptyMet;
        if (apart) {
            takeSection(ctx, (*state.sections)[state.nextSection]);
            return;
        }
    }
    appendText(ctx, value, len, XML_CDATA_SECTION_NODE);
}

void onStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                    int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int nbDefaulted,
                    const xmlChar** attributes) {
    ReplyParser::State& state = stateOf(ctx);
    if (state.stop != Stop::None) return;
    if (++state.depth > state.limits.maxDepth) {
        halt(ctx, Stop::Depth);
        return;
    }
    // Each attribute is a node with a text node below it; each namespace a small record.
    std::uint64_t cost = kNodeCost + xmlStrlen(localname) +
                         static_cast<std::uint64_t>(nbNamespaces) * (kNodeCost / 2);
    // libxml2 gives five pointers per attribute: name, prefix, URI, value start, value end.
    for (std::ptrdiff_t i = 0; i < nbAttributes; ++i) {
        const xmlChar* const* attribute = attributes + i * 5;
        cost += 2 * kNodeCost + xmlStrlen(attribute[0]) +
                static_cast<std::uint64_t>(attribute[4] - attribute[3]);
    }
    if (!charge(ctx, cost)) return;
    closeText(state);
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                          nbDefaulted, attributes);
}

void onEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    ReplyParser::State& state = stateOf(ctx);
    if (state.depth > 0) --state.depth;
    closeText(state);
    xmlSAX2EndElementNs(ctx, localname, prefix, uri);
}

void onComment(void* ctx, const xmlChar* value) {
    if (!charge(ctx, kNodeCost + xmlStrlen(value))) return;
    closeText(stateOf(ctx));
    xmlSAX2Comment(ctx, value);
}

void onProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    if (!charge(ctx, kNodeCost + xmlStrlen(target) + xmlStrlen(data))) return;
    closeText(stateOf(ctx));
    xmlSAX2ProcessingInstruction(ctx, target, data);
}

// What one pass of the markup scanner tells of a body before the parser reads it.
struct BodyMarks {
    // Where a CDATA section without its end begins. It makes the reply malformed; found here,
    // it is reported as what it is, at its line, rather than at the end of the reply.
    std::optional<std::size_t> unclosedCdata;
    // Which of the body's empty CDATA sections (counted from 0) stand in for the sections set
    // apart, in order. "<![CDATA[" inside a comment or a processing instruction is only text.
    std::vector<std::size_t> apartAmongEmpty;
};

BodyMarks markBody(std::string_view markup, const std::vector<ReplyBody::Section>& sections) {
    BodyMarks marks;
    xml::MarkupScanner scanner;
    scanner.feed(markup);
    xml::MarkupScanner::Piece piece;
    std::size_t empty = 0;
    while (scanner.next(piece)) {
        if (piece.kind != xml::MarkupScanner::Kind::Cdata || !piece.starts || !piece.ends ||
            !piece.content.empty())
            continue;
        if (marks.apartAmongEmpty.size() < sections.size() &&
            sections[marks.apartAmongEmpty.size()].at == piece.offset)
            marks.apartAmongEmpty.push_back(empty);
        ++empty;
    }
    if (scanner.inside() == xml::MarkupScanner::Kind::Cdata)
        marks.unclosedCdata = static_cast<std::size_t>(scanner.constructStart());
    return marks;
}

long lineAt(std::string_view text, std::size_t offset) {
    return 1 + static_cast<long>(std::count(text.begin(), text.begin() + offset, '\n'));
}

std::string mebibytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

}  // namespace

ReplyParser::ReplyParser(ReplyLimits limits) : limits_(limits) {
    // A reply fetched ahead is read on a worker: libxml2 sets itself up once, and that must
    // happen on the thread that makes the parser, never first on the worker.
    xmlInitParser();
}

namespace {

// A push parser for one reply, with the handlers of this file and the options of every service
// reply. The push parser passes CDATA on as it stands, line ends included, which is what the
// files written from replies hold. Replies small enough for the cost of setting it up to matter
// are read without it (readSmallReply).
ParserCtxtPtr newContext(ReplyParser::State& state) {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    sax.internalSubset = &refuseDoctype;
    sax.externalSubset = &refuseDoctype;
    sax.startElementNs = &onStartElement;
    sax.endElementNs = &onEndElement;
    sax.characters = &onCharacters;
    sax.ignorableWhitespace = &onCharacters;
    sax.cdataBlock = &onCdata;
    sax.comment = &onComment;
    sax.processingInstruction = &onProcessingInstruction;
    ErrorCollector errors;
    ParserCtxtPtr ctxt(xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr));
    if (!ctxt) throw Error(err::OutOfMemory, "Out of memory", "SoapClient");
    xmlCtxtUseOptions(ctxt.get(), xml::detail::parserOptions());
    ctxt->_private = &state;
    return ctxt;
}

}  // namespace

ReplyParser::~ReplyParser() {
    // The parser may still point into the body.
    state_.reset();
}

bool ReplyParser::feed(const char* data, std::size_t size) {
    return body_.append(data, size);
}

std::string_view ReplyParser::wholeBody() {
    if (!body_.close()) throw Error(err::OutOfMemory, "Out of memory", "SoapClient");
    if (!body_.sections().empty()) return {};
    return {body_.markup(), body_.markupSize()};
}

xml::Document ReplyParser::finish(Clock::time_point deadline) {
    if (finished_) throw Error(err::InvalidArgument, "The reply was parsed already", "SoapClient");
    finished_ = true;
    limitTime(deadline);
    if (!body_.close()) throw Error(err::OutOfMemory, "Out of memory", "SoapClient");
    if (body_.size() <= limits_.quickReadUpTo && body_.sections().empty()) {
        if (auto document = readSmallReply({body_.markup(), body_.markupSize()}, limits_))
            return std::move(*document);
    }
    return parse();
}

void ReplyParser::limitTime(Clock::time_point deadline) {
    Clock::time_point bound = deadline_.load();
    while (deadline < bound && !deadline_.compare_exchange_weak(bound, deadline)) {
    }
}

// Throws what made the parse stop, if anything did; `line` is where it stopped.
void ReplyParser::throwIfStopped(const State& state, long line) const {
    switch (state.stop) {
        case Stop::Doctype:
            throw xml::ParseError(
                xml::ParseFailure{xml::detail::kDoctypeRefusedReason, line, 0, {}});
        case Stop::Depth:
            throw Error(err::SoapReplyTooLarge,
                        "The reply nests elements deeper than the limit of " +
                            std::to_string(limits_.maxDepth) + " levels",
                        "SoapClient");
        case Stop::Tree:
            throw Error(err::SoapReplyTooLarge,
                        "The reply holds more elements and texts than a reply of its size may: "
                        "as a document it would take more than " +
                            mebibytes(state.budget()) + " (its " + std::to_string(body_.size()) +
                            " bytes plus " + mebibytes(limits_.treeAllowance) + "), about " +
                            std::to_string(state.budget() / kNodeCost) + " elements",
                        "SoapClient");
        case Stop::Deadline:
            throw Error(err::SoapTimeout, "The reply could not be read within the time-out",
                        "SoapClient");
        case Stop::OutOfMemory:
            throw Error(err::OutOfMemory, "Out of memory while reading the reply", "SoapClient");
        case Stop::None:
            break;
    }
}

xml::Document ReplyParser::parse() {
    state_ = std::make_unique<State>();
    State& state = *state_;
    state.limits = limits_;
    state.deadline = &deadline_;
    state.bodySize = body_.size();
    const std::string_view markup(body_.markup(), body_.markupSize());
    if (markup.empty()) throw xml::ParseError(xml::ParseFailure{"The reply is empty", 0, 0, {}});
    // libxml2 counts a piece's size in int.
    if (markup.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw Error(err::SoapReplyTooLarge, "The reply is too large to be read", "SoapClient");
    const BodyMarks marks = markBody(markup, body_.sections());
    if (marks.unclosedCdata) {
        throw xml::ParseError(xml::ParseFailure{
            "A CDATA section is not closed", lineAt(markup, *marks.unclosedCdata), 0, {}});
    }
    // A body in another encoding is converted by the parser; its sections are never set apart.
    if (!body_.sections().empty() && !readsAsUtf8(markup))
        throw Error(err::SoapReplyTooLarge, "The reply is too large to be read", "SoapClient");
    state.sections = &body_.sections();
    state.apartAmongEmpty = marks.apartAmongEmpty;
    state.ctxt = newContext(state);
    xmlParserCtxt* ctxt = state.ctxt.get();

    // In one piece, so that the verdict never depends on where pieces would end; the parser
    // copies it, and the body goes once the parse is over.
    ErrorCollector errors;
    xmlParseChunk(ctxt, markup.data(), static_cast<int>(markup.size()), 1);
    closeText(state);

    throwIfStopped(state, ctxt->input != nullptr ? ctxt->input->line : 0);
    if (errors.first()) {
        // A position after a section set apart on the same line counts its content too, as
        // it stands in the reply that was sent. The content holds no line ends.
        long column = errors.first()->column;
        if (column > 0 && state.sections != nullptr) {
            for (std::size_t i = 0; i < state.nextSection; ++i) {
                const ReplyBody::Section& section = (*state.sections)[i];
                if (lineAt(markup, section.at) == errors.first()->line)
                    column += static_cast<long>(section.length);
            }
        }
        throw xml::ParseError(
            xml::ParseFailure{errors.first()->reason, errors.first()->line, column, {}});
    }
    if (!ctxt->wellFormed || ctxt->myDoc == nullptr) {
        throw xml::ParseError(xml::ParseFailure{"The reply is not well-formed XML", 0, 0, {}});
    }
    if (state.sections != nullptr && state.nextSection != state.sections->size()) {
        throw xml::ParseError(
            xml::ParseFailure{"The reply's CDATA section was not read in place", 0, 0, {}});
    }
    xmlDoc* doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    xml::Document document = xml::Document::adopt(doc);
    state.ctxt.reset();
    xmlFree(body_.releaseMarkup());
    return document;
}

}  // namespace ovk::soap
