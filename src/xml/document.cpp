// SPDX-License-Identifier: MIT
#include "xml/document.hpp"

#include <libxml/xpath.h>

#include <limits>
#include <system_error>
#include <utility>

#include "platform/files.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk::xml {

using namespace detail;

namespace {

struct XPathContextFree {
    void operator()(xmlXPathContext* p) const { xmlXPathFreeContext(p); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* p) const { xmlXPathFreeObject(p); }
};

// Runs one parse under the safety rules of `source`; `read` performs the actual libxml2 call.
template <class Read>
Document parseWith(Source source, Read read, const std::function<std::string(long)>& sourceLine) {
    ErrorCollector errors;
    ParserCtxtPtr ctxt(xmlNewParserCtxt());
    if (!ctxt) throw Error(err::OutOfMemory, "Out of memory");
    if (source == Source::ServiceReply) refuseDoctype(ctxt.get());
    refuseEntityDeclarations(ctxt.get());
    xmlDoc* doc = read(ctxt.get(), parserOptions());
    if (const auto reason = refusedEntityReason(ctxt.get())) {
        xmlFreeDoc(doc);
        throw ParseError(ParseFailure{*reason, ctxt->input ? ctxt->input->line : 0, 0, {}});
    }
    if (doctypeRefused(ctxt.get())) {
        xmlFreeDoc(doc);
        throw ParseError(
            ParseFailure{kDoctypeRefusedReason, ctxt->input ? ctxt->input->line : 0, 0, {}});
    }
    if (doc == nullptr || errors.first() || !ctxt->wellFormed) {
        xmlFreeDoc(doc);
        RawError raw =
            errors.first().value_or(RawError{"The document is not well-formed XML", 0, 0, nullptr});
        throw ParseError(describe(raw, sourceLine));
    }
    return Document::adopt(doc);
}

}  // namespace

Document::Document() : doc_(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))) {
    if (doc_ == nullptr) throw Error(err::OutOfMemory, "Out of memory");
}

Document::~Document() {
    if (doc_ != nullptr) xmlFreeDoc(doc_);
}

Document::Document(Document&& other) noexcept : doc_(std::exchange(other.doc_, nullptr)) {}

Document& Document::operator=(Document&& other) noexcept {
    if (this != &other) {
        if (doc_ != nullptr) xmlFreeDoc(doc_);
        doc_ = std::exchange(other.doc_, nullptr);
    }
    return *this;
}

Document Document::loadFile(const std::filesystem::path& path, Source source) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw Error(err::FileNotFound, "File not found: " + path.string());
    }
    const std::string name = path.string();
    return parseWith(
        source,
        [&](xmlParserCtxt* ctxt, int options) {
            return xmlCtxtReadFile(ctxt, name.c_str(), nullptr, options);
        },
        [&](long line) { return lineOfFile(path, line); });
}

Document Document::loadFileThrough(const std::filesystem::path& path,
                                   int (*read)(void* context, char* buffer, int length),
                                   void* context, Source source) {
    const std::string name = path.string();
    return parseWith(
        source,
        [&](xmlParserCtxt* ctxt, int options) {
            return xmlCtxtReadIO(ctxt, read, nullptr, context, name.c_str(), nullptr, options);
        },
        [&](long line) { return lineOfFile(path, line); });
}

Document Document::loadMemory(std::string_view text, Source source, const std::string& name) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw Error(err::Overflow, "The text is too large to parse in one piece");
    }
    return parseWith(
        source,
        [&](xmlParserCtxt* ctxt, int options) {
            return xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), name.c_str(),
                                     nullptr, options);
        },
        [&](long line) { return lineOfText(text, line); });
}

Node Document::root() const {
    xmlNode* root = xmlDocGetRootElement(doc_);
    return Node(root);
}

namespace {
// Document order, depth first, without recursion: a deep document cannot exhaust the stack.
template <class Visit>
void walkElements(xmlNode* root, Visit visit) {
    xmlNode* current = root;
    while (current != nullptr) {
        if (current->type == XML_ELEMENT_NODE && !visit(current)) return;
        if (current->type == XML_ELEMENT_NODE && current->children != nullptr) {
            current = current->children;
            continue;
        }
        while (current != nullptr && current != root && current->next == nullptr)
            current = current->parent;
        if (current == nullptr || current == root) return;
        current = current->next;
    }
}
}  // namespace

Node Document::firstElementByName(std::string_view name) const {
    Node found;
    walkElements(xmlDocGetRootElement(doc_), [&](xmlNode* node) {
        if (Node(node).name() == name) {
            found = Node(node);
            return false;
        }
        return true;
    });
    return found;
}

std::vector<Node> Document::elementsByName(std::string_view name) const {
    std::vector<Node> found;
    walkElements(xmlDocGetRootElement(doc_), [&](xmlNode* node) {
        if (Node(node).name() == name) found.emplace_back(node);
        return true;
    });
    return found;
}

std::vector<Node> Document::selectNodes(const std::string& xpath) const {
    ErrorCollector errors;
    std::unique_ptr<xmlXPathContext, XPathContextFree> context(xmlXPathNewContext(doc_));
    if (!context) throw Error(err::OutOfMemory, "Out of memory");
    std::unique_ptr<xmlXPathObject, XPathObjectFree> result(
        xmlXPathEvalExpression(xmlText(xpath), context.get()));
    if (!result) {
        const std::string reason =
            errors.first() ? errors.first()->reason : "Invalid XPath expression";
        throw ParseError(ParseFailure{reason + ": " + xpath, 0, 0, xpath});
    }
    std::vector<Node> nodes;
    if (result->type == XPATH_NODESET && result->nodesetval != nullptr) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i)
            nodes.emplace_back(result->nodesetval->nodeTab[i]);
    }
    return nodes;
}

Node Document::selectSingleNode(const std::string& xpath) const {
    const auto nodes = selectNodes(xpath);
    return nodes.empty() ? Node() : nodes.front();
}

Node Document::createElement(std::string_view name) {
    const std::string n(name);
    xmlNode* node = xmlNewDocNode(doc_, nullptr, xmlText(n), nullptr);
    if (node == nullptr) throw Error(err::InvalidArgument, "Cannot create element " + n);
    return Node(node);
}

Node Document::createText(std::string_view text) {
    xmlNode* node = xmlNewDocTextLen(doc_, xmlText(text), static_cast<int>(text.size()));
    if (node == nullptr) throw Error(err::OutOfMemory, "Out of memory");
    return Node(node);
}

Node Document::createCData(std::string_view data) {
    xmlNode* node = xmlNewCDataBlock(doc_, xmlText(data), static_cast<int>(data.size()));
    if (node == nullptr) throw Error(err::OutOfMemory, "Out of memory");
    return Node(node);
}

Node Document::setRoot(Node element) {
    if (!element.isElement()) throw Error(err::InvalidArgument, "Only an element can be the root");
    xmlNode* old = xmlDocSetRootElement(doc_, element.raw());
    if (old != nullptr) xmlFreeNode(old);
    return element;
}

std::string Document::toString() const {
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc_, &memory, &size, "UTF-8", 0);
    if (memory == nullptr) throw Error(err::OutOfMemory, "Cannot serialise the document");
    XmlString owned(memory);
    return std::string(reinterpret_cast<const char*>(memory), static_cast<std::size_t>(size));
}

void Document::save(const std::filesystem::path& path) const {
    files::replaceFileContent(path, toString());
}

}  // namespace ovk::xml
