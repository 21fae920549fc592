// SPDX-License-Identifier: MIT
#include "xml/content_stream.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "platform/text.hpp"

namespace ovk::xml {
namespace {

using Data = ContentEvents::Data;

// Bytes that need no look beyond their own: printable ASCII, tab and line feed. The others are
// markup, line ends, "]" and ">" (which may end a section or be "]]>" in text), bytes that
// start a multi-byte character, and control characters that XML does not allow.
constexpr std::array<bool, 256> plainTable(std::string_view special, bool carriageReturn) {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
    plain['\t'] = plain['\n'] = true;
    plain['\r'] = carriageReturn;
    for (const char c : special) plain[static_cast<unsigned char>(c)] = false;
    return plain;
}
constexpr std::array<bool, 256> kTextPlain = plainTable("<&]>", false);
// A section's line ends stay as sent: the reply reader keeps them, and the download file and
// its payloads have always held them so.
constexpr std::array<bool, 256> kSectionPlain = plainTable("]>", true);

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The length of the UTF-8 character at the start of `bytes` when it is one XML allows, 0 when
// it is not, and -1 when `bytes` ends inside it.
int characterLength(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= bytes.size()) return -1;
        const unsigned char c = at(i);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
    }
    // U+FFFE and U+FFFF are no characters.
    if (lead == 0xEF && at(1) == 0xBF && (at(2) == 0xBE || at(2) == 0xBF)) return 0;
    return length;
}

// The text a reference (between "&" and ";") stands for; false for one that is not defined.
bool resolveReference(std::string_view name, std::string& out) {
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : kPredefined) {
        if (name == entity) {
            out += c;
            return true;
        }
    }
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t code = 0;
    for (const char c : digits) {
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (hex && c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (value < 0) return false;
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
    }
    if (!isXmlChar(code)) return false;
    appendUtf8(out, code);
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ContentStream::ContentStream(ContentEvents& events, std::size_t maxDepth, std::string element)
    : events_(events), maxDepth_(maxDepth), element_(std::move(element)) {}

void ContentStream::fail(const std::string& what) const {
    throw ContentError(err::SoapMalformedReply, "The reply is not well-formed XML: " + what +
                                                    " (near byte " + std::to_string(offset_) +
                                                    " of the item)");
}

std::size_t ContentStream::feed(std::string_view piece) {
    std::size_t at = 0;
    while (at < piece.size() && !ended_) {
        const std::size_t before = at;
        switch (state_) {
            case State::Text:
                readText(piece, at);
                break;
            case State::Reference:
                readReference(piece, at);
                break;
            case State::Markup:
                readMarkup(piece, at);
                break;
            case State::CData:
                readCData(piece, at);
                break;
            case State::Comment:
                readUntil(piece, at, "-->");
                break;
            case State::Instruction:
                readUntil(piece, at, "?>");
                break;
        }
        offset_ += at - before;
    }
    return at;
}

void ContentStream::deliver(Data kind, std::string_view bytes) {
    if (kind == Data::Text) inText_ = true;
    events_.data(kind, bytes);
}

void ContentStream::flushBrackets(Data kind) {
    for (; brackets_ > 0; --brackets_) deliver(kind, "]");
}

void ContentStream::endText() {
    if (!inText_) return;
    inText_ = false;
    events_.endData(Data::Text);
}

void ContentStream::scanData(std::string_view piece, std::size_t& at, const bool* plain,
                             Data kind) {
    if (!partial_.empty()) completeCharacter(piece, at, kind);
    if (carriageReturn_ && at < piece.size()) {
        carriageReturn_ = false;
        if (piece[at] != '\n') deliver(kind, "\n");
    }
    while (at < piece.size()) {
        std::size_t run = at;
        while (run < piece.size() && plain[static_cast<unsigned char>(piece[run])]) ++run;
        if (run > at) {
            flushBrackets(kind);
            deliver(kind, piece.substr(at, run - at));
            at = run;
            if (at == piece.size()) return;
        }
        const auto c = static_cast<unsigned char>(piece[at]);
        if (c == ']') {
            ++brackets_;
            ++at;
            continue;
        }
        if (c != '\r' && c < 0x80 && c >= 0x20) return;  // for the caller
        flushBrackets(kind);
        if (c == '\r') {
            // CR LF and a lone CR are read as LF, as every XML parser reads them.
            if (++at == piece.size()) {
                carriageReturn_ = true;
                return;
            }
            if (piece[at] != '\n') deliver(kind, "\n");
            continue;
        }
        if (c < 0x20) fail("the control character " + std::to_string(c));
        const int length = characterLength(piece.substr(at));
        if (length == 0) fail("a byte that is not UTF-8, or a character XML does not allow");
        if (length < 0) {
            partial_.assign(piece.substr(at));
            at = piece.size();
            return;
        }
        deliver(kind, piece.substr(at, static_cast<std::size_t>(length)));
        at += static_cast<std::size_t>(length);
    }
}

void ContentStream::completeCharacter(std::string_view piece, std::size_t& at, Data kind) {
    while (at < piece.size()) {
        partial_ += piece[at++];
        const int length = characterLength(partial_);
        if (length == 0) fail("a byte that is not UTF-8, or a character XML does not allow");
        if (length > 0) {
            flushBrackets(kind);
            deliver(kind, partial_);
            partial_.clear();
            return;
        }
    }
}

void ContentStream::readText(std::string_view piece, std::size_t& at) {
    scanData(piece, at, kTextPlain.data(), Data::Text);
    if (at == piece.size() || !partial_.empty()) return;
    const char c = piece[at++];
    if (c == '>') {
        if (brackets_ >= 2) fail("\"]]>\" in text");
        flushBrackets(Data::Text);
        deliver(Data::Text, ">");
        return;
    }
    flushBrackets(Data::Text);
    markup_.assign(1, c);
    if (c == '&') {
        state_ = State::Reference;
        return;
    }
    endText();
    state_ = State::Markup;
}

void ContentStream::readReference(std::string_view piece, std::size_t& at) {
    const auto* semicolon =
        static_cast<const char*>(std::memchr(piece.data() + at, ';', piece.size() - at));
    const std::size_t stop =
        semicolon == nullptr ? piece.size() : static_cast<std::size_t>(semicolon - piece.data());
    markup_.append(piece.substr(at, stop - at));
    at = stop;
    if (markup_.size() > 16) fail("a reference without its \";\"");
    if (semicolon == nullptr) return;
    ++at;
    std::string text;
    if (!resolveReference(std::string_view(markup_).substr(1), text))
        fail("the undefined entity or reference \"" + markup_ + ";\"");
    deliver(Data::Text, text);
    state_ = State::Text;
}

// Markup from its "<": which kind it is shows in its first characters.
void ContentStream::readMarkup(std::string_view piece, std::size_t& at) {
    while (at < piece.size()) {
        if (markup_.size() >= 2 && markup_[1] != '!') return readTag(piece, at);
        markup_ += piece[at++];
        if (markup_.size() == 2 && markup_[1] == '?') {
            state_ = State::Instruction;
            return;
        }
        if (markup_.size() == 2 && markup_[1] != '!' && markup_[1] != '/' &&
            !isNameStart(static_cast<unsigned char>(markup_[1])))
            fail("\"<\" that starts no markup");
        if (markup_ == "<!--") {
            state_ = State::Comment;
            return;
        }
        if (markup_ == "<![CDATA[") {
            markup_.clear();
            state_ = State::CData;
            return;
        }
        if (markup_.size() > 2 && !startsWith("<![CDATA[", markup_) && !startsWith("<!--", markup_))
            fail("a declaration inside an element");
    }
}

// A start or end tag, up to its ">" outside quoted values.
void ContentStream::readTag(std::string_view piece, std::size_t& at) {
    const std::size_t from = at;
    for (; at < piece.size(); ++at) {
        const char c = piece[at];
        if (quote_ != 0) {
            if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
            quote_ = c;
        } else if (c == '>') {
            markup_.append(piece.substr(from, ++at - from));
            state_ = State::Text;
            if (markup_[1] == '/') return endTag(markup_);
            return startTag(markup_);
        }
    }
    markup_.append(piece.substr(from));
    if (markup_.size() > kLongestTag)
        throw Error(err::SoapReplyTooLarge,
                    "The reply holds a tag longer than " + std::to_string(kLongestTag) + " bytes");
}

// A comment or processing instruction, read whole and passed over.
void ContentStream::readUntil(std::string_view piece, std::size_t& at, std::string_view end) {
    // "<!--" and "<?" are not part of the end: "<!-->" does not end a comment.
    const std::size_t shortest = end.size() == 3 ? 7 : 4;
    while (at < piece.size()) {
        markup_ += piece[at++];
        if (markup_.size() >= shortest && markup_.ends_with(end)) {
            state_ = State::Text;
            return skipped(markup_);
        }
    }
    if (markup_.size() > kLongestTag)
        throw Error(err::SoapReplyTooLarge,
                    "The reply holds a comment or instruction longer than " +
                        std::to_string(kLongestTag) + " bytes");
}

void ContentStream::readCData(std::string_view piece, std::size_t& at) {
    scanData(piece, at, kSectionPlain.data(), Data::CData);
    if (at == piece.size() || !partial_.empty()) return;
    ++at;  // ">"
    if (brackets_ < 2) {
        flushBrackets(Data::CData);
        deliver(Data::CData, ">");
        return;
    }
    brackets_ -= 2;
    flushBrackets(Data::CData);
    events_.endData(Data::CData);
    state_ = State::Text;
}

void ContentStream::checkCharacters(std::string_view text) const {
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                fail("the control character " + std::to_string(c));
            ++at;
            continue;
        }
        const int length = characterLength(text.substr(at));
        if (length <= 0) fail("a byte that is not UTF-8, or a character XML does not allow");
        at += static_cast<std::size_t>(length);
    }
}

void ContentStream::skipped(std::string_view markup) {
    checkCharacters(markup);
    if (markup[1] == '!') {
        const std::string_view comment = markup.substr(4, markup.size() - 7);
        if (comment.find("--") != std::string_view::npos || comment.ends_with('-'))
            fail("\"--\" inside a comment");
    } else {
        std::size_t end = 2;
        while (end < markup.size() && isNameChar(static_cast<unsigned char>(markup[end]))) ++end;
        std::string target(markup.substr(2, end - 2));
        for (char& c : target) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == 2 || !isNameStart(static_cast<unsigned char>(markup[2])) || target == "xml" ||
            !(isSpace(markup[end]) || markup.substr(end) == "?>"))
            fail("a processing instruction without a proper target");
    }
    markup_.clear();
    events_.otherNode();
}

void ContentStream::endTag(std::string_view tag) {
    checkCharacters(tag);
    std::size_t end = 2;
    while (end < tag.size() && isNameChar(static_cast<unsigned char>(tag[end]))) ++end;
    const std::string_view name = tag.substr(2, end - 2);
    while (end < tag.size() && isSpace(tag[end])) ++end;
    if (name.empty() || end != tag.size() - 1) fail("a malformed end tag");
    if (open_.empty()) {
        if (name != element_)
            fail("the end tag </" + std::string(name) + "> where </" + element_ + "> belongs");
        ended_ = true;
    } else {
        if (open_.back() != name)
            fail("the end tag </" + std::string(name) + "> where </" + open_.back() + "> belongs");
        open_.pop_back();
        events_.endElement();
    }
    markup_.clear();
}

void ContentStream::startTag(std::string_view tag) {
    checkCharacters(tag);
    const bool empty = tag.size() >= 3 && tag[tag.size() - 2] == '/';
    const std::string_view inside = tag.substr(1, tag.size() - (empty ? 3 : 2));
    std::size_t at = 0;
    while (at < inside.size() && isNameChar(static_cast<unsigned char>(inside[at]))) ++at;
    const std::string name(inside.substr(0, at));
    std::vector<ContentEvents::Attribute> attributes;
    while (at < inside.size()) {
        const std::size_t spaceFrom = at;
        while (at < inside.size() && isSpace(inside[at])) ++at;
        if (at == inside.size()) break;
        if (at == spaceFrom || !isNameStart(static_cast<unsigned char>(inside[at])))
            fail("a malformed attribute in <" + name + ">");
        const std::size_t nameFrom = at;
        while (at < inside.size() && isNameChar(static_cast<unsigned char>(inside[at]))) ++at;
        ContentEvents::Attribute attribute{std::string(inside.substr(nameFrom, at - nameFrom)), {}};
        while (at < inside.size() && isSpace(inside[at])) ++at;
        if (at == inside.size() || inside[at++] != '=') fail("an attribute without a value");
        while (at < inside.size() && isSpace(inside[at])) ++at;
        const char quote = at < inside.size() ? inside[at] : '\0';
        const std::size_t close =
            quote == '"' || quote == '\'' ? inside.find(quote, at + 1) : std::string_view::npos;
        if (close == std::string_view::npos) fail("an attribute value without quotes");
        const std::string_view raw = inside.substr(at + 1, close - at - 1);
        at = close + 1;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (c == '<') fail("\"<\" in an attribute value");
            if (c == '&') {
                const std::size_t semicolon = raw.find(';', i);
                if (semicolon == std::string_view::npos ||
                    !resolveReference(raw.substr(i + 1, semicolon - i - 1), attribute.value))
                    fail("an undefined entity or reference in an attribute value");
                i = semicolon;
            } else if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
                continue;  // CR LF is one line end, made one space below
            } else {
                attribute.value += isSpace(c) ? ' ' : c;
            }
        }
        for (const auto& other : attributes)
            if (other.name == attribute.name) fail("the attribute " + other.name + " twice");
        attributes.push_back(std::move(attribute));
    }
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name[0])))
        fail("a malformed start tag");
    if (open_.size() + 1 > maxDepth_) {
        throw Error(err::SoapReplyTooLarge, "The reply nests elements deeper than " +
                                                std::to_string(maxDepth_) + " levels");
    }
    markup_.clear();
    events_.startElement(name, attributes);
    if (empty) return events_.endElement();
    open_.push_back(name);
}

}  // namespace ovk::xml
