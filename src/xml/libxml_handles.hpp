// SPDX-License-Identifier: MIT
#pragma once

// Owning handles and small helpers around libxml2's C objects. Only the xml platform code
// (and the SOAP client's push parser) includes this header; everything above it sees Node and
// Document.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/document.hpp"

namespace ovk::xml::detail {

struct XmlFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
using XmlString = std::unique_ptr<xmlChar, XmlFree>;

struct ParserCtxtFree {
    void operator()(xmlParserCtxt* p) const {
        if (p != nullptr && p->myDoc != nullptr) {
            xmlFreeDoc(p->myDoc);
            p->myDoc = nullptr;
        }
        xmlFreeParserCtxt(p);
    }
};
using ParserCtxtPtr = std::unique_ptr<xmlParserCtxt, ParserCtxtFree>;

inline const xmlChar* xmlText(std::string_view text) {
    return reinterpret_cast<const xmlChar*>(text.data());
}
inline std::string toString(const xmlChar* text) {
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}
inline std::string take(xmlChar* text) {
    XmlString owned(text);
    return toString(owned.get());
}

// Parser options for every source: texts of any size, line numbers beyond 65535. Never NOENT
// (entity expansion), DTDLOAD or DTDATTR (reading a DTD), never the network.
int parserOptions();

// Makes a parser context refuse any DOCTYPE: service replies have no business carrying one, and
// refusing it outright closes every entity trick before it starts. Use doctypeRefused() after
// the parse to tell this stop from other failures.
void refuseDoctype(xmlParserCtxt* ctxt);
bool doctypeRefused(const xmlParserCtxt* ctxt);
// Makes a parser context stop at the first entity declaration, before anything could expand it:
// a few kilobytes of nested entities can stand for gigabytes of text. A document type without
// entities is still read. refusedEntityReason() tells this stop apart and explains it.
void refuseEntityDeclarations(xmlParserCtxt* ctxt);
std::optional<std::string> refusedEntityReason(const xmlParserCtxt* ctxt);

inline constexpr const char* kDoctypeRefusedReason = "A DOCTYPE is not allowed in a service reply";

// The first error libxml2 reported.
struct RawError {
    std::string reason;
    long line = 0;
    long column = 0;
    const xmlNode* node = nullptr;  // for validity errors: the offending element
};

// Collects the first error libxml2 reports on this thread while it is alive, instead of letting
// libxml2 print to stderr. Nested collectors restore the previous one.
class ErrorCollector {
  public:
    ErrorCollector();
    ~ErrorCollector();
    ErrorCollector(const ErrorCollector&) = delete;
    ErrorCollector& operator=(const ErrorCollector&) = delete;

    const std::optional<RawError>& first() const { return first_; }
    void record(RawError error) {
        if (!first_) first_ = std::move(error);
    }

  private:
    static void handle(void* self, xmlErrorPtr error);

    xmlStructuredErrorFunc previousHandler_;
    void* previousContext_;
    std::optional<RawError> first_;
};

// Turns a raw error into what a user reads: the reason, the line, the position within the line
// (derived from the element's start tag when libxml2 gives none) and the line's text, looked up
// with `sourceLine`.
ParseFailure describe(const RawError& error, const std::function<std::string(long)>& sourceLine);

// Line `line` (from 1) of a text in memory / of a file, cut at a sane length so that a
// pathological one-line file cannot blow up an error message.
std::string lineOfText(std::string_view text, long line);
std::string lineOfFile(const std::filesystem::path& path, long line);

}  // namespace ovk::xml::detail
