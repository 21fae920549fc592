// SPDX-License-Identifier: MIT
#include <algorithm>
#include <fstream>

#include "xml/libxml_handles.hpp"

namespace ovk::xml::detail {
namespace {

constexpr std::size_t kMaxSourceLine = 4096;

int sentinel;        // its address marks a parser stopped because of a DOCTYPE
int entitySentinel;  // and this one a parser stopped at an entity declaration
thread_local std::string refusedEntity;

void stopAtDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ctxt->_private = &sentinel;
    xmlStopParser(ctxt);
}

void stopAtEntity(void* ctx, const xmlChar* name, int, const xmlChar*, const xmlChar*, xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    if (ctxt->_private != &entitySentinel) refusedEntity = toString(name).substr(0, 200);
    ctxt->_private = &entitySentinel;
    xmlStopParser(ctxt);
}

std::string trimReason(const char* message) {
    std::string reason = message == nullptr ? std::string("Unknown XML error") : message;
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return reason;
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
           c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

std::string qualifiedName(const xmlNode* node) {
    std::string name = toString(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr)
        name = toString(node->ns->prefix) + ":" + name;
    return name;
}

// How many elements of the same name start on the same line before `node`: the position of its
// start tag among the tags of that name on the line.
int occurrenceOnLine(const xmlNode* node) {
    const long line = xmlGetLineNo(node);
    const std::string name = qualifiedName(node);
    int count = 0;
    const xmlNode* root = node;
    while (root->parent != nullptr && root->parent->type == XML_ELEMENT_NODE) root = root->parent;
    // Depth-first walk in document order up to the node itself.
    const xmlNode* current = root;
    while (current != nullptr && current != node) {
        if (current->type == XML_ELEMENT_NODE && xmlGetLineNo(current) == line &&
            qualifiedName(current) == name) {
            ++count;
        }
        if (current->children != nullptr) {
            current = current->children;
        } else {
            while (current != nullptr && current->next == nullptr) {
                current = current->parent;
                if (current == root->parent) current = nullptr;
            }
            if (current != nullptr) current = current->next;
        }
    }
    return count;
}

// The position, counted in characters as the parser counts its columns, of the byte `offset`
// of a source line. A line that is not UTF-8 comes from a single-byte file: one byte, one
// character.
long characterPosition(std::string_view sourceLine, std::size_t offset) {
    const std::string_view before = sourceLine.substr(0, offset);
    const std::string copy(before);
    if (xmlCheckUTF8(reinterpret_cast<const xmlChar*>(copy.c_str())) == 0)
        return static_cast<long>(offset) + 1;
    return static_cast<long>(std::ranges::count_if(
               before, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; })) +
           1;
}

long startTagPosition(const std::string& sourceLine, const xmlNode* node) {
    const std::string tag = "<" + qualifiedName(node);
    int skip = occurrenceOnLine(node);
    for (std::size_t at = sourceLine.find(tag); at != std::string::npos;
         at = sourceLine.find(tag, at + 1)) {
        const std::size_t after = at + tag.size();
        if (after < sourceLine.size() && isNameChar(sourceLine[after])) continue;
        if (skip-- == 0) return characterPosition(sourceLine, at);
    }
    return 0;
}

}  // namespace

int parserOptions() {
    // Neither source can make the parser expand text beyond what it holds (entity declarations
    // are refused), so the size limits only stand in the way of large payloads: a download
    // document holds every document it downloaded, a reply the one it carries.
    return XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_HUGE;
}

void refuseDoctype(xmlParserCtxt* ctxt) {
    ctxt->sax->internalSubset = &stopAtDoctype;
    ctxt->sax->externalSubset = &stopAtDoctype;
}

bool doctypeRefused(const xmlParserCtxt* ctxt) {
    return ctxt->_private == &sentinel;
}

void refuseEntityDeclarations(xmlParserCtxt* ctxt) {
    ctxt->sax->entityDecl = &stopAtEntity;
}

std::optional<std::string> refusedEntityReason(const xmlParserCtxt* ctxt) {
    if (ctxt->_private != &entitySentinel) return std::nullopt;
    return "The document declares the entity \"" + refusedEntity +
           "\"; documents that declare entities are not read, so that no entity can expand "
           "into more text than the file holds";
}

ErrorCollector::ErrorCollector()
    : previousHandler_(xmlStructuredError), previousContext_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, &ErrorCollector::handle);
}

ErrorCollector::~ErrorCollector() {
    xmlSetStructuredErrorFunc(previousContext_, previousHandler_);
}

void ErrorCollector::handle(void* self, xmlErrorPtr error) {
    if (error == nullptr || error->level < XML_ERR_ERROR) return;
    RawError raw;
    raw.reason = trimReason(error->message);
    raw.line = error->line;
    // Parser errors carry the column in int2; validity errors carry the element instead.
    if (error->domain == XML_FROM_PARSER || error->domain == XML_FROM_NAMESPACE)
        raw.column = error->int2;
    if (error->node != nullptr && static_cast<xmlNode*>(error->node)->type == XML_ELEMENT_NODE) {
        raw.node = static_cast<const xmlNode*>(error->node);
        if (raw.line == 0) raw.line = xmlGetLineNo(raw.node);
    }
    static_cast<ErrorCollector*>(self)->record(std::move(raw));
}

ParseFailure describe(const RawError& error, const std::function<std::string(long)>& sourceLine) {
    ParseFailure failure;
    failure.reason = error.reason;
    failure.line = error.line;
    failure.position = error.column;
    if (error.line > 0) failure.sourceLine = sourceLine(error.line);
    if (failure.position <= 0 && error.node != nullptr) {
        failure.position = startTagPosition(failure.sourceLine, error.node);
    }
    return failure;
}

std::string lineOfText(std::string_view text, long line) {
    std::size_t start = 0;
    for (long n = 1; n < line; ++n) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) return {};
        start = newline + 1;
    }
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string result(text.substr(start, std::min(end - start, kMaxSourceLine)));
    if (!result.empty() && result.back() == '\r') result.pop_back();
    return result;
}

std::string lineOfFile(const std::filesystem::path& path, long line) {
    std::ifstream in(path, std::ios::binary);
    std::string result;
    long current = 1;
    for (int c = in.get(); c != EOF; c = in.get()) {
        if (c == '\n') {
            if (current == line) break;
            ++current;
            continue;
        }
        if (current == line && result.size() < kMaxSourceLine)
            result.push_back(static_cast<char>(c));
        if (current == line && result.size() >= kMaxSourceLine) break;
    }
    if (!result.empty() && result.back() == '\r') result.pop_back();
    return result;
}

}  // namespace ovk::xml::detail
