// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;

namespace ovk::xml {

enum class NodeKind { Element, Text, CData, Comment, ProcessingInstruction, Document, Other };

// A non-owning handle to a node of a Document. It stays valid for as long as the Document
// that holds the node lives and the node has not been removed from it. A default-constructed
// Node is "nothing"; every query on nothing gives an empty result rather than failing.
class Node {
  public:
    Node() = default;
    explicit Node(_xmlNode* node) : node_(node) {}

    explicit operator bool() const { return node_ != nullptr; }
    bool operator==(const Node& other) const = default;

    NodeKind kind() const;
    bool isElement() const { return kind() == NodeKind::Element; }

    // The name as written, prefix included ("soap:Body"); for non-elements an empty text.
    std::string name() const;
    // The name without its prefix ("Body").
    std::string localName() const;
    // Text content: for an element all descendant text and CDATA joined, for a text, CDATA,
    // comment or processing instruction its own data.
    std::string text() const;

    Node firstChild() const;
    Node nextSibling() const;
    bool hasChildNodes() const { return static_cast<bool>(firstChild()); }
    // All child nodes in document order: elements, text, CDATA, comments, PIs.
    std::vector<Node> children() const;
    std::vector<Node> childElements() const;

    // Attributes in document order; `attributeAt` counts from 0 and gives nothing past the end.
    std::size_t attributeCount() const;
    std::optional<std::string> attributeAt(std::size_t position) const;
    std::optional<std::string> attributeNameAt(std::size_t position) const;
    std::optional<std::string> attribute(std::string_view name) const;

    // Appends `child` (created by this node's document, not yet in the tree) as the last child.
    // Returns the appended node.
    Node appendChild(Node child);
    // Unlinks this node with everything beneath it and frees it; the handle becomes nothing.
    void remove();
    // Removes the white space that lays XML out: the text nodes holding only white space among
    // this node's children and among the children of every element beneath it that also has
    // element children. The text of an element without element children is its value and stays
    // (<Sp>   </Sp> keeps its blanks), and so do CDATA sections and text under
    // xml:space="preserve". Indented and unindented XML then read the same.
    void dropWhitespaceText();

    // Line in the source file where the node started, when it came from a parse.
    long line() const;

    _xmlNode* raw() const { return node_; }

  private:
    _xmlNode* node_ = nullptr;
};

}  // namespace ovk::xml
