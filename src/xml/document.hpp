// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.hpp"
#include "xml/node.hpp"

struct _xmlDoc;

namespace ovk::xml {

// Where a parse failed: the parser's reason, the line (from 1), the position within the line
// (from 1) and the text of that line. Line or position is 0 when nothing better is known.
struct ParseFailure {
    std::string reason;
    long line = 0;
    long position = 0;
    std::string sourceLine;
};

// Thrown when a text is not well-formed XML, breaks a safety limit, or is invalid against its
// schema. number is err::InvalidArgument; description is the parser's reason.
struct ParseError : Error {
    ParseFailure failure;
    explicit ParseError(ParseFailure f)
        : Error(err::InvalidArgument, f.reason, "XML"), failure(std::move(f)) {}
};

// How much the text to parse is trusted. Neither kind ever touches the network, loads an
// external DTD or entity, or expands entities into the tree.
enum class Source {
    // Files on disk (download document, resource files): DTDs are tolerated but inert, entity
    // declarations are refused, and texts of any size are read (a download document holds
    // every document it downloaded, up to gigabytes).
    LocalFile,
    // Replies from a service: a DOCTYPE is refused outright (SOAP forbids it), which also
    // closes the door on entity tricks; texts of any size are read for large payloads.
    ServiceReply,
};

// An owned XML document. White space is always preserved.
class Document {
  public:
    Document();  // a new, empty document
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    static Document loadFile(const std::filesystem::path& path, Source source = Source::LocalFile);
    // Reads the file at `path` through `read` (libxml2's input callback, called with
    // `context`), which may hand the parser something other than the file's bytes as long as
    // the lines stay those of the file: failures name their source lines from the file.
    static Document loadFileThrough(const std::filesystem::path& path,
                                    int (*read)(void* context, char* buffer, int length),
                                    void* context, Source source = Source::LocalFile);
    static Document loadMemory(std::string_view text, Source source = Source::LocalFile,
                               const std::string& name = "memory");
    // Takes ownership of a document libxml2 built elsewhere (a push parser, a reader).
    static Document adopt(_xmlDoc* doc) { return Document(doc); }

    // The root element, or nothing for an empty document.
    Node root() const;
    // The first element of that (qualified) name anywhere in the document, in document order.
    Node firstElementByName(std::string_view name) const;
    // All elements of that name in document order.
    std::vector<Node> elementsByName(std::string_view name) const;
    // XPath 1.0 selection from the document node. Throws ParseError for an invalid expression.
    std::vector<Node> selectNodes(const std::string& xpath) const;
    Node selectSingleNode(const std::string& xpath) const;

    // New nodes owned by this document, not yet in its tree: hand them to Node::appendChild.
    Node createElement(std::string_view name);
    Node createText(std::string_view text);
    Node createCData(std::string_view data);
    // Makes `element` (created by this document) the root element.
    Node setRoot(Node element);

    // The document as XML text: an XML declaration, then the tree exactly as it is.
    std::string toString() const;
    // Writes toString() over `path` atomically (see files::replaceFileContent).
    void save(const std::filesystem::path& path) const;

    _xmlDoc* raw() const { return doc_; }

  private:
    explicit Document(_xmlDoc* doc) : doc_(doc) {}
    _xmlDoc* doc_ = nullptr;
};

// Nodes of a parsed reply that stay valid for as long as somebody holds the list: the list
// shares ownership of the document they live in.
class NodeList {
  public:
    NodeList() = default;
    NodeList(std::shared_ptr<const Document> owner, std::vector<Node> nodes)
        : owner_(std::move(owner)), nodes_(std::move(nodes)) {}

    std::size_t size() const { return nodes_.size(); }
    bool empty() const { return nodes_.empty(); }
    Node operator[](std::size_t i) const { return nodes_.at(i); }
    Node first() const { return nodes_.empty() ? Node() : nodes_.front(); }
    auto begin() const { return nodes_.begin(); }
    auto end() const { return nodes_.end(); }
    const std::shared_ptr<const Document>& owner() const { return owner_; }

  private:
    std::shared_ptr<const Document> owner_;
    std::vector<Node> nodes_;
};

}  // namespace ovk::xml
