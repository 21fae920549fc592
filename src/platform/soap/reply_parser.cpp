#include "platform/soap/reply_parser.hpp"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstring>

#include "platform/xml/libxml_handles.hpp"

namespace ovk::soap {

using xml::detail::ErrorCollector;
using xml::detail::ParserCtxtPtr;

namespace {

// libxml2's push parser hands out an unfinished CDATA section 300 bytes per parse step and
// looks for its end from the start of whatever it has buffered, so a section of many megabytes
// fed in large pieces costs time quadratic in its size. Feeding such a section in small pieces
// and stepping the parser until its buffer is drained keeps the work linear.
constexpr std::size_t kCdataPiece = 1024;
constexpr std::size_t kCdataStep = 302;  // the parser moves only with at least this much buffered
constexpr std::size_t kLargestPiece = 1 << 20;

}  // namespace

struct ReplyParser::State {
    ParserCtxtPtr ctxt;
    bool doctypeSeen = false;
    // The CDATA section being filled and its allocation: libxml2's own xmlTextConcat measures
    // and reallocates the whole text for every 300-byte block.
    xmlNode* openCdata = nullptr;
    std::size_t cdataLength = 0;
    std::size_t cdataCapacity = 0;
    bool outOfMemory = false;
};

namespace {

ReplyParser::State& stateOf(void* ctx) {
    return *static_cast<ReplyParser::State*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

void refuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    stateOf(ctx).doctypeSeen = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

// Gives back the spare room of the section filled last; a document kept for the rest of the
// session should not carry up to twice its text.
void closeCdata(ReplyParser::State& state) {
    if (state.openCdata == nullptr) return;
    if (state.cdataCapacity > state.cdataLength + 1) {
        auto* fitted =
            static_cast<xmlChar*>(xmlRealloc(state.openCdata->content, state.cdataLength + 1));
        if (fitted != nullptr) state.openCdata->content = fitted;
    }
    state.openCdata = nullptr;
    state.cdataLength = state.cdataCapacity = 0;
}

void appendCdata(void* ctx, const xmlChar* value, int len) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ReplyParser::State& state = stateOf(ctx);
    xmlNode* parent = ctxt->node;
    if (parent == nullptr || len < 0) return;
    const auto add = static_cast<std::size_t>(len);
    if (state.openCdata != nullptr && parent->last == state.openCdata) {
        if (state.cdataLength + add + 1 > state.cdataCapacity) {
            const std::size_t capacity =
                std::max(state.cdataCapacity * 2, state.cdataLength + add + 1);
            auto* grown = static_cast<xmlChar*>(xmlRealloc(state.openCdata->content, capacity));
            if (grown == nullptr) {
                state.outOfMemory = true;
                xmlStopParser(ctxt);
                return;
            }
            state.openCdata->content = grown;
            state.cdataCapacity = capacity;
        }
        std::memcpy(state.openCdata->content + state.cdataLength, value, add);
        state.cdataLength += add;
        state.openCdata->content[state.cdataLength] = 0;
        return;
    }
    closeCdata(state);
    xmlNode* node = xmlNewCDataBlock(ctxt->myDoc, value, len);
    if (node == nullptr || xmlAddChild(parent, node) == nullptr) {
        xmlFreeNode(node);
        state.outOfMemory = true;
        xmlStopParser(ctxt);
        return;
    }
    state.openCdata = node;
    state.cdataLength = add;
    state.cdataCapacity = add + 1;
}

}  // namespace

ReplyParser::ReplyParser() : state_(std::make_unique<State>()) {
    xmlInitParser();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    xmlSAXVersion(&sax, 2);
    sax.internalSubset = &refuseDoctype;
    sax.externalSubset = &refuseDoctype;
    sax.cdataBlock = &appendCdata;
    ErrorCollector errors;
    state_->ctxt.reset(xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, "reply"));
    if (!state_->ctxt) throw Error(err::OutOfMemory, "Out of memory");
    xmlCtxtUseOptions(state_->ctxt.get(), xml::detail::parserOptions(xml::Source::ServiceReply));
    state_->ctxt->_private = state_.get();
}

ReplyParser::~ReplyParser() = default;

bool ReplyParser::feed(const char* data, std::size_t size) {
    if (failure_) return false;
    xmlParserCtxt* ctxt = state_->ctxt.get();
    ErrorCollector errors;
    const auto inCdata = [&] { return ctxt->instate == XML_PARSER_CDATA_SECTION; };
    const auto buffered = [&] {
        return ctxt->input == nullptr
                   ? std::size_t{0}
                   : static_cast<std::size_t>(ctxt->input->end - ctxt->input->cur);
    };
    while (size > 0) {
        const std::size_t piece = std::min(size, inCdata() ? kCdataPiece : kLargestPiece);
        xmlParseChunk(ctxt, data, static_cast<int>(piece), 0);
        data += piece;
        size -= piece;
        while (inCdata() && buffered() >= kCdataStep) {
            const xmlChar* before = ctxt->input->cur;
            xmlParseChunk(ctxt, nullptr, 0, 0);
            if (ctxt->input == nullptr || ctxt->input->cur == before) break;
        }
        if (errors.first() && !failure_) {
            failure_ = xml::ParseFailure{
                errors.first()->reason, errors.first()->line, errors.first()->column, {}};
        }
        if (!check()) return false;
    }
    return true;
}

bool ReplyParser::check() {
    xmlParserCtxt* ctxt = state_->ctxt.get();
    if (state_->doctypeSeen) {
        failure_ = xml::ParseFailure{
            xml::detail::kDoctypeRefusedReason, ctxt->input ? ctxt->input->line : 0, 0, {}};
    } else if (state_->outOfMemory) {
        failure_ = xml::ParseFailure{"Out of memory while reading the reply", 0, 0, {}};
    } else if (!failure_ && !ctxt->wellFormed) {
        failure_ = xml::ParseFailure{"The reply is not well-formed XML", 0, 0, {}};
    }
    return !failure_;
}

xml::Document ReplyParser::finish() {
    xmlParserCtxt* ctxt = state_->ctxt.get();
    if (!failure_) {
        ErrorCollector errors;
        xmlParseChunk(ctxt, nullptr, 0, 1);
        if (errors.first()) {
            failure_ = xml::ParseFailure{
                errors.first()->reason, errors.first()->line, errors.first()->column, {}};
        }
        check();
        if (!failure_ && ctxt->myDoc == nullptr) {
            failure_ = xml::ParseFailure{"The reply is empty", 0, 0, {}};
        }
    }
    if (failure_) throw xml::ParseError(*failure_);
    closeCdata(*state_);
    xmlDoc* doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    return xml::Document::adopt(doc);
}

}  // namespace ovk::soap
