// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.hpp"

namespace ovk::xml {

// The content of one element as ContentStream reads it, in document order. Character data
// comes in pieces: the pieces of one text or CDATA node follow each other, and endData() ends
// the node before anything else is reported. Text arrives as a parser gives it (line ends as
// LF, references replaced), CDATA as it stands; comments and processing instructions are checked
// and passed over, but they end a text node as they do in a tree. A receiver may throw to end the
// reading.
class ContentEvents {
  public:
    enum class Data { Text, CData };
    struct Attribute {
        std::string name;   // qualified, as written
        std::string value;  // references replaced, white space normalised
    };

    virtual ~ContentEvents() = default;
    // `name` is qualified, as written.
    virtual void startElement(std::string_view name, const std::vector<Attribute>& attributes) = 0;
    virtual void endElement() = 0;
    virtual void data(Data kind, std::string_view piece) = 0;
    // The text or CDATA node of the last data() pieces is complete. An empty CDATA section
    // is a node too: it comes as endData(CData) without a piece.
    virtual void endData(Data kind) = 0;
    // A comment or processing instruction, which a copy leaves out but which ends a run of
    // character data.
    virtual void otherNode() {}
};

// The text is not well-formed XML.
struct ContentError : Error {
    using Error::Error;
};

// Reads the content of an element from text that arrives in pieces split anywhere (a reply on
// the network), from just after its start tag to its end tag, without holding more of it than
// the markup of one tag: character data goes to the receiver as it is read. So a payload of
// gigabytes passes in constant memory, at the speed of a table lookup per byte.
//
// It checks what a conforming parser checks in content: names and end tags that match, quoted
// attribute values without "<" and with unique names, the five predefined entities and
// character references (no other entity: there is no DTD), characters allowed in XML 1.0 in
// well-formed UTF-8, no "]]>" in text, no "--" in comments, no "xml" processing instruction.
// Namespaces are not resolved: names are reported as written. Throws ContentError
// (err::SoapMalformedReply) naming the fault and its offset, and Error(err::SoapReplyTooLarge)
// for elements nested more than `maxDepth` levels inside the content, or a tag, comment or
// instruction longer than kLongestTag.
class ContentStream {
  public:
    static constexpr std::size_t kLongestTag = std::size_t{16} << 20;

    // `element` is the qualified name of the element whose content this is.
    ContentStream(ContentEvents& events, std::size_t maxDepth, std::string element);

    // Reads the next piece. Returns how much of it belonged to the content: all of it, or less
    // once the end tag of the element has been read (the rest follows the element).
    std::size_t feed(std::string_view piece);
    bool ended() const { return ended_; }
    // Bytes read so far.
    std::uint64_t offset() const { return offset_; }

  private:
    enum class State { Text, Reference, Markup, CData, Comment, Instruction };

    void readText(std::string_view piece, std::size_t& at);
    void readReference(std::string_view piece, std::size_t& at);
    void readMarkup(std::string_view piece, std::size_t& at);
    void readTag(std::string_view piece, std::size_t& at);
    void readUntil(std::string_view piece, std::size_t& at, std::string_view end);
    void readCData(std::string_view piece, std::size_t& at);
    // Character data from `at` on: runs of plain bytes, line ends (made LF), "]" and multi-byte
    // characters, handed on as `kind`. Stops at the first byte `plain` leaves to the caller, or
    // at the piece's end.
    void scanData(std::string_view piece, std::size_t& at, const bool* plain,
                  ContentEvents::Data kind);
    void completeCharacter(std::string_view piece, std::size_t& at, ContentEvents::Data kind);
    void flushBrackets(ContentEvents::Data kind);
    void deliver(ContentEvents::Data kind, std::string_view bytes);
    void endText();
    // The markup just read whole.
    void startTag(std::string_view tag);
    void endTag(std::string_view tag);
    void skipped(std::string_view markup);
    void checkCharacters(std::string_view text) const;
    [[noreturn]] void fail(const std::string& what) const;

    ContentEvents& events_;
    std::size_t maxDepth_;
    std::string element_;
    State state_ = State::Text;
    std::string markup_;             // the tag, reference, comment or instruction being read
    std::vector<std::string> open_;  // names of the elements open inside the content
    std::string partial_;            // a multi-byte character cut by a piece's end
    std::uint64_t offset_ = 0;
    std::size_t brackets_ = 0;  // "]" read and not yet handed on
    char quote_ = 0;            // the quote of the attribute value being read
    bool carriageReturn_ = false;
    bool inText_ = false;  // a text node is under way
    bool ended_ = false;
};

}  // namespace ovk::xml
