// SPDX-License-Identifier: MIT
// A reader for the replies services send in practice, at a fraction of libxml2's cost per node:
// a million-node structure reply is read in about the time it takes to arrive. It reads only
// what it can check in full and gives up on everything else (see scanReply), so a reply it
// accepts is one libxml2 accepts, and reads alike.

#include <array>
#include <cstdint>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.hpp"
#include "soap/streamed_reply_frame.hpp"

namespace ovk::soap::detail {

namespace {

// Thrown where the scanner gives up; caught in scanReply.
struct Unsure {};

[[noreturn]] void giveUp() {
    throw Unsure{};
}

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

enum : std::uint8_t {
    kNameStart = 1,
    kNameChar = 2,
    // An ASCII character that needs no second look in a value or a text.
    kPlain = 4,
};

constexpr std::array<std::uint8_t, 256> kClasses = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t k = 0;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') k |= kNameStart;
        if ((k & kNameStart) != 0 || (c >= '0' && c <= '9') || c == '-' || c == '.') k |= kNameChar;
        if (c >= 0x20 && c < 0x80 && c != '<' && c != '&' && c != '"' && c != '\'' && c != ']')
            k |= kPlain;
        classes[static_cast<std::size_t>(c)] = k;
    }
    return classes;
}();

bool is(char c, std::uint8_t kind) {
    return (kClasses[static_cast<unsigned char>(c)] & kind) != 0;
}
bool isNameStart(char c) {
    return is(c, kNameStart);
}
// A qualified name: the prefix is empty when there is none.
struct QName {
    std::string_view whole;
    std::string_view prefix;
    std::string_view local;
};

// An attribute as written, before namespaces and references are resolved.
struct RawAttribute {
    QName name;
    std::string_view value;
    bool plain = true;  // no reference and no white space to normalise
};

struct Binding {
    std::string_view prefix;  // empty: the default namespace
    std::string_view uri;
    int depth;
};

class Scanner {
  public:
    Scanner(std::string_view text, ReplyFrame& frame) : text_(text), frame_(frame) {}

    void read();

  private:
    char peek(std::size_t ahead = 0) const {
        return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
    }
    bool startsWith(std::string_view what) const { return text_.substr(at_).starts_with(what); }
    void expect(std::string_view what) {
        if (!startsWith(what)) giveUp();
        at_ += what.size();
    }
    bool skipSpace() {
        const std::size_t from = at_;
        while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
        return at_ > from;
    }
    std::string_view ncName();
    QName qName();
    // One character of a text, of an attribute value, a comment or a CDATA section, which is
    // not markup: checks it is a character XML allows and moves past it.
    void character();
    std::uint32_t reference();
    std::string_view quoted(bool& plain);
    std::string_view quoted();

    void declaration();
    void misc();
    void content();
    void startTag();
    void endTag();
    void comment();
    void cdata();
    std::string_view resolve(std::string_view prefix) const;
    void bindNamespaces(int depth);
    std::string_view decoded(const RawAttribute& attribute);

    std::string_view text_;
    std::size_t at_ = 0;
    ReplyFrame& frame_;
    std::vector<std::string_view> open_;  // the open elements' qualified names
    std::vector<Binding> bindings_;
    std::vector<RawAttribute> raw_;
    std::vector<FrameAttribute> attributes_;
    std::string values_;  // decoded values of the current start tag
};

std::string_view Scanner::ncName() {
    const char* const begin = text_.data() + at_;
    const char* const end = text_.data() + text_.size();
    const char* p = begin;
    if (p == end || !is(*p, kNameStart)) giveUp();
    for (++p; p != end && is(*p, kNameChar);) ++p;
    at_ += static_cast<std::size_t>(p - begin);
    return {begin, static_cast<std::size_t>(p - begin)};
}

QName Scanner::qName() {
    const std::size_t from = at_;
    QName name;
    name.local = ncName();
    if (peek() == ':') {
        ++at_;
        name.prefix = name.local;
        name.local = ncName();
        if (peek() == ':') giveUp();
    }
    name.whole = text_.substr(from, at_ - from);
    return name;
}

void Scanner::character() {
    const auto byte = [&](std::size_t ahead) { return static_cast<unsigned char>(peek(ahead)); };
    const unsigned char c = byte(0);
    if (c < 0x80) {
        if (c < 0x20 && !isSpace(static_cast<char>(c))) giveUp();
        ++at_;
        return;
    }
    const auto continuation = [&](std::size_t ahead, unsigned char low = 0x80,
                                  unsigned char high = 0xBF) {
        const unsigned char b = byte(ahead);
        if (b < low || b > high) giveUp();
    };
    if (c >= 0xC2 && c <= 0xDF) {
        continuation(1);
        at_ += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        // No overlong forms and no surrogates.
        continuation(1, c == 0xE0 ? 0xA0 : 0x80, c == 0xED ? 0x9F : 0xBF);
        continuation(2);
        // U+FFFE and U+FFFF are no characters.
        if (c == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE) giveUp();
        at_ += 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
        continuation(1, c == 0xF0 ? 0x90 : 0x80, c == 0xF4 ? 0x8F : 0xBF);
        continuation(2);
        continuation(3);
        at_ += 4;
    } else {
        giveUp();
    }
}

// A reference at `at_` ("&..."): the character it stands for.
std::uint32_t Scanner::reference() {
    ++at_;
    if (peek() == '#') {
        ++at_;
        const bool hex = peek() == 'x';
        if (hex) ++at_;
        std::uint32_t value = 0;
        std::size_t digits = 0;
        for (;; ++at_, ++digits) {
            const char c = peek();
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                digit = static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
            else
                break;
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF) giveUp();
        }
        if (digits == 0 || peek() != ';' || !isXmlChar(value)) giveUp();
        ++at_;
        return value;
    }
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
    for (const auto& [name, c] : kPredefined) {
        if (startsWith(name)) {
            at_ += name.size();
            return static_cast<unsigned char>(c);
        }
    }
    giveUp();
}

// An attribute value in quotes as written; `at_` stands after its closing quote. `plain`
// tells whether it holds no reference and no white space other than spaces.
std::string_view Scanner::quoted(bool& plain) {
    const char quote = peek();
    if (quote != '"' && quote != '\'') giveUp();
    const std::size_t from = ++at_;
    plain = true;
    while (true) {
        while (at_ < text_.size() && is(text_[at_], kPlain)) ++at_;
        const char c = peek();
        if (c == quote && at_ < text_.size()) break;
        if (c == '<' || at_ >= text_.size()) giveUp();
        if (c == '&') {
            plain = false;
            reference();
        } else {
            if (isSpace(c)) plain = false;
            character();
        }
    }
    return text_.substr(from, at_++ - from);
}

std::string_view Scanner::quoted() {
    bool plain = true;
    return quoted(plain);
}

// The XML declaration, if any: only version 1.0 in UTF-8.
void Scanner::declaration() {
    if (text_.starts_with("\xEF\xBB\xBF")) at_ = 3;
    if (!startsWith("<?xml") || !isSpace(peek(5))) return;
    at_ += 5;
    skipSpace();
    expect("version");
    skipSpace();
    expect("=");
    skipSpace();
    const std::string_view version = quoted();
    if (version != "1.0") giveUp();
    bool spaced = skipSpace();
    if (spaced && startsWith("encoding")) {
        at_ += 8;
        skipSpace();
        expect("=");
        skipSpace();
        std::string encoding(quoted());
        for (char& c : encoding) c = static_cast<char>(c | 0x20);
        if (encoding != "utf-8") giveUp();
        spaced = skipSpace();
    }
    if (spaced && startsWith("standalone")) {
        at_ += 10;
        skipSpace();
        expect("=");
        skipSpace();
        const std::string_view standalone = quoted();
        if (standalone != "yes" && standalone != "no") giveUp();
        skipSpace();
    }
    expect("?>");
}

// White space and comments before or after the document element.
void Scanner::misc() {
    while (true) {
        skipSpace();
        if (!startsWith("<!--")) return;
        comment();
    }
}

void Scanner::comment() {
    at_ += 4;
    while (!startsWith("--")) {
        if (at_ >= text_.size()) giveUp();
        character();
    }
    expect("-->");
    frame_.otherNode();
}

void Scanner::cdata() {
    at_ += 9;
    while (!startsWith("]]>")) {
        if (at_ >= text_.size()) giveUp();
        character();
    }
    at_ += 3;
    frame_.otherNode();
}

std::string_view Scanner::resolve(std::string_view prefix) const {
    for (const Binding& binding : std::views::reverse(bindings_))
        if (binding.prefix == prefix) return binding.uri;
    // An unbound prefix is a namespace error; "xml" is bound without a declaration, and rare
    // enough to leave to libxml2.
    if (!prefix.empty()) giveUp();
    return {};
}

// The start tag's namespace declarations, for the element at `depth` and below.
void Scanner::bindNamespaces(int depth) {
    for (const RawAttribute& a : raw_) {
        const bool isDefault = a.name.prefix.empty() && a.name.local == "xmlns";
        if (!isDefault && a.name.prefix != "xmlns") continue;
        // References in a namespace name, the reserved prefixes and namespaces, and a prefix
        // bound to nothing are all left to libxml2.
        if (!a.plain || a.value.starts_with("http://www.w3.org/XML/1998/namespace") ||
            a.value.starts_with("http://www.w3.org/2000/xmlns/"))
            giveUp();
        if (!isDefault && (a.value.empty() || a.name.local == "xml" || a.name.local == "xmlns"))
            giveUp();
        bindings_.push_back({isDefault ? std::string_view() : a.name.local, a.value, depth});
    }
}

// The value as the receiver reads it: references resolved, and each white-space character
// a space, a line end of two characters one.
std::string_view Scanner::decoded(const RawAttribute& attribute) {
    if (attribute.plain) return attribute.value;
    const std::size_t from = values_.size();
    const std::string_view value = attribute.value;
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '&') {
            const std::size_t saved = at_;
            at_ = static_cast<std::size_t>(value.data() + i - text_.data());
            const std::size_t start = at_;
            appendUtf8(values_, reference());
            i += at_ - start;
            at_ = saved;
        } else if (isSpace(c)) {
            values_ += ' ';
            i += c == '\r' && i + 1 < value.size() && value[i + 1] == '\n' ? 2 : 1;
        } else {
            values_ += c;
            ++i;
        }
    }
    return std::string_view(values_).substr(from);
}

void Scanner::startTag() {
    ++at_;
    const QName name = qName();
    raw_.clear();
    bool empty = false;
    while (true) {
        const bool spaced = skipSpace();
        if (peek() == '>') {
            ++at_;
            break;
        }
        if (peek() == '/') {
            expect("/>");
            empty = true;
            break;
        }
        if (!spaced) giveUp();
        RawAttribute attribute;
        attribute.name = qName();
        skipSpace();
        if (peek() != '=') giveUp();
        ++at_;
        skipSpace();
        attribute.value = quoted(attribute.plain);
        for (const RawAttribute& other : raw_)
            if (other.name.whole == attribute.name.whole) giveUp();
        raw_.push_back(attribute);
    }
    const int depth = static_cast<int>(open_.size());
    bool declares = false;
    bool plain = true;
    for (const RawAttribute& a : raw_) {
        declares = declares || a.name.whole.starts_with("xmlns");
        plain = plain && a.plain;
    }
    if (declares) bindNamespaces(depth);
    if (name.prefix == "xmlns" || name.whole == "xmlns") giveUp();
    const std::string_view uri = resolve(name.prefix);

    // Reserved in full first, so that the views into it stay valid while it fills: no value
    // grows when it is decoded.
    values_.clear();
    if (!plain) {
        std::size_t decoding = 0;
        for (const RawAttribute& a : raw_) decoding += a.plain ? 0 : a.value.size();
        values_.reserve(decoding);
    }
    attributes_.clear();
    for (const RawAttribute& a : raw_) {
        if (declares && (a.name.prefix == "xmlns" || a.name.whole == "xmlns")) continue;
        const std::string_view attributeUri =
            a.name.prefix.empty() ? std::string_view() : resolve(a.name.prefix);
        // The same name in one namespace under two prefixes is no well-formed attribute list.
        for (const FrameAttribute& other : attributes_) {
            if (!attributeUri.empty() && other.uri == attributeUri &&
                other.localName == a.name.local)
                giveUp();
        }
        attributes_.push_back(
            {a.name.whole, a.name.local, attributeUri, decoded(a), !a.name.prefix.empty()});
    }
    frame_.startElement(name.local, uri, attributes_);
    open_.push_back(name.whole);
    if (empty) {
        open_.pop_back();
        while (!bindings_.empty() && bindings_.back().depth == depth) bindings_.pop_back();
        frame_.endElement();
    }
}

void Scanner::endTag() {
    at_ += 2;
    const std::string_view name = qName().whole;
    skipSpace();
    expect(">");
    if (open_.empty() || open_.back() != name) giveUp();
    open_.pop_back();
    const int depth = static_cast<int>(open_.size());
    while (!bindings_.empty() && bindings_.back().depth == depth) bindings_.pop_back();
    frame_.endElement();
}

// The document element and everything in it.
void Scanner::content() {
    if (peek() != '<' || !isNameStart(peek(1))) giveUp();
    startTag();
    while (!open_.empty() && !frame_.needsTree()) {
        std::size_t from = at_;
        while (at_ < text_.size() && text_[at_] != '<') {
            if (is(text_[at_], kPlain)) {
                ++at_;
                continue;
            }
            if (text_[at_] == '&') {
                if (at_ > from) frame_.text(text_.substr(from, at_ - from));
                // What the reference stands for counts as text, and only that.
                const std::uint32_t c = reference();
                frame_.text(c < 0x80 && isSpace(static_cast<char>(c)) ? " " : "x");
                from = at_;
                continue;
            }
            if (text_[at_] == ']' && startsWith("]]>")) giveUp();
            character();
        }
        if (at_ > from) frame_.text(text_.substr(from, at_ - from));
        if (at_ >= text_.size()) giveUp();
        const char next = peek(1);
        if (next == '/')
            endTag();
        else if (startsWith("<!--"))
            comment();
        else if (startsWith("<![CDATA["))
            cdata();
        else if (isNameStart(next))
            startTag();
        else
            giveUp();
    }
}

void Scanner::read() {
    declaration();
    misc();
    content();
    if (frame_.needsTree()) return;
    misc();
    if (at_ != text_.size()) giveUp();
}

}  // namespace

bool scanReply(std::string_view body, ReplyFrame& frame) {
    try {
        Scanner(body, frame).read();
        return true;
    } catch (const Unsure&) {
        return false;
    }
}

}  // namespace ovk::soap::detail
