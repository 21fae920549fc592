// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "reply_body.hpp"

namespace ovk::refservice {

// Pretty-prints XML as it streams past, the way many SOAP stacks indent their replies: a line
// break and two blanks per level go between elements, and only there. Once an element has
// shown text or CDATA, nothing more is added inside it (its content stays exactly as it was),
// an empty element stays empty, and text, CDATA, comments and attribute values are copied
// unchanged. The replies of this service never mix text and elements in one element, which
// is what a stream without look-ahead needs. The input is taken to be well-formed.
class XmlIndenter {
  public:
    // Appends the indented form of the next part of the document to `out`.
    void feed(std::string_view xml, std::string& out);
    // The next part of the document is character data that is not scanned (a file going out
    // Base64-encoded inside a CDATA section).
    void feedOpaqueText();

  private:
    enum class State { Content, Open, Tag, Quoted, Cdata, Comment, Pi };
    enum class Last { Nothing, StartTag, EndTag, Markup, Text };

    void beginMarkup(std::string& out, bool endTag);
    void endTagSeen();
    bool currentHoldsText() const { return !holdsText_.empty() && holdsText_.back(); }
    void markText();

    State state_ = State::Content;
    Last last_ = Last::Nothing;
    std::string pending_;  // the start of a markup construct whose kind is not known yet
    char quote_ = 0;
    bool tagIsEnd_ = false;
    bool tagIsDeclaration_ = false;
    char previous_ = 0;
    std::size_t terminatorSeen_ = 0;  // how much of "]]>" or "-->" or "?>" has been seen
    std::vector<bool> holdsText_;     // per open element: has it text or CDATA content?
};

// The same reply, indented; files that go out Base64-encoded stay streamed.
ReplyBody indentedReply(const ReplyBody& body);
std::string indentedText(std::string_view xml);

}  // namespace ovk::refservice
