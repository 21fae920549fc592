// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

namespace ovk::xml {

// Splits XML text into its constructs as it arrives, chunk by chunk, without building anything:
// character data, tags, comments, processing instructions, CDATA sections and declarations
// (DOCTYPE with its internal subset). It is what finds CDATA sections in replies and download
// files, so it knows every place where "<![CDATA[" is not one: inside a comment, a processing
// instruction, a declaration or a quoted attribute value (where '>' does not end the tag
// either).
//
// The scanner checks nothing: a construct is whatever lies between its delimiters, and one
// without its end stays open until the input ends. Its verdict never depends on how the input
// was split: a delimiter cut by a chunk's end is held back (it is always a prefix of a known
// delimiter, so nothing is copied) and decided with the next chunk. Long runs cost one memchr:
// text looks for '<', a CDATA section for ']', a comment for '-'.
//
// Usage: feed() a chunk, then next() until it returns false; at the end of the input,
// finish(). The pieces point into the chunk (or at static text for bytes that were held back)
// and are valid until the next feed().
class MarkupScanner {
  public:
    enum class Kind : std::uint8_t {
        Text,         // character data between constructs
        Tag,          // "<" … ">": start, end and empty-element tags
        Comment,      // "<!--" … "-->"
        Instruction,  // "<?" … "?>", the XML declaration among them
        Cdata,        // "<![CDATA[" … "]]>"
        Declaration,  // "<!" … ">" with its "[…]" subset: DOCTYPE and its kin
    };

    // A run of one construct's content, its delimiters left out (opener() and closer() give
    // them back). A construct split across chunks comes in several pieces.
    struct Piece {
        Kind kind = Kind::Text;
        std::string_view content;
        // Where `content` starts in the whole input.
        std::uint64_t offset = 0;
        // The construct begins with this piece: its opener came just before `content`.
        bool starts = false;
        // The construct ends with this piece: its closer follows `content`. Text ends where
        // markup begins; the text at the very end of the input never gets `ends`.
        bool ends = false;
    };

    // Takes the next chunk of the input; it must stay valid until next() returns false.
    void feed(std::string_view chunk);
    // The next piece of the chunk; false when the chunk is used up. Empty text is never a piece;
    // a construct's first and last pieces may be empty.
    bool next(Piece& piece);
    // The input has ended: the bytes held back at the end, if any, as a last piece of the open
    // construct (never `ends`). False when nothing was held back.
    bool finish(Piece& piece);

    // The construct being read (Text between constructs) and where its opener began.
    Kind inside() const { return state_ == State::Text ? Kind::Text : kind_; }
    std::uint64_t constructStart() const { return constructStart_; }
    // How much of the input has been fed.
    std::uint64_t fed() const { return chunkOffset_ + chunk_.size(); }

    // Carries on at `offset` of the input with what lies before it taken as read, between
    // constructs, or inside the content of a construct of kind `inside` that began before: for
    // a reader that knows where a construct ends, or what it holds, without reading it.
    void resumeAt(std::uint64_t offset, Kind inside = Kind::Text);

    static std::string_view opener(Kind kind);
    static std::string_view closer(Kind kind);

  private:
    enum class State : std::uint8_t {
        Text,
        Opening,  // after "<", until the kind of markup is known
        Content,  // inside a construct of kind_
    };

    bool nextOpening(Piece& piece);
    bool nextContent(Piece& piece);
    bool nextTagContent(Piece& piece);
    bool nextDelimitedContent(Piece& piece);
    // Emits bytes held back that turned out to be content.
    bool emitHeld(Piece& piece, std::string_view held, std::uint64_t offset);
    void open(Kind kind);
    Piece piece(std::size_t from, std::size_t to, bool ends);

    std::string_view chunk_;
    std::uint64_t chunkOffset_ = 0;  // of chunk_[0] in the input
    std::size_t at_ = 0;             // where next() goes on in chunk_
    State state_ = State::Text;
    Kind kind_ = Kind::Text;
    std::uint64_t constructStart_ = 0;
    bool textStarted_ = false;
    bool contentStarted_ = false;  // the open construct's first piece went out
    // Opening: how many bytes of the opener are held ("<", "<!", "<![CDA", …).
    std::uint8_t openerHeld_ = 0;
    // Content: how many bytes of the closer were seen at the end of what was read ("]" or
    // "]]" of "]]>", "-" or "--" of "-->", "?" of "?>").
    std::uint8_t closerHeld_ = 0;
    // Tag and Declaration: the quote being read through, and the depth of "[" in a declaration.
    char quote_ = 0;
    int depth_ = 0;
};

}  // namespace ovk::xml
