// SPDX-License-Identifier: MIT
#include "reply_indenter.hpp"

namespace ovk::refservice {
namespace {

void newLine(std::string& out, std::size_t depth) {
    out += '\n';
    out.append(2 * depth, ' ');
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

void XmlIndenter::markText() {
    if (!holdsText_.empty()) holdsText_.back() = true;
    last_ = Last::Text;
}

void XmlIndenter::beginMarkup(std::string& out, bool endTag) {
    if (currentHoldsText()) return;
    const std::size_t depth = holdsText_.size();
    if (endTag) {
        // Never between a start tag and its end tag: an empty element stays empty.
        if ((last_ == Last::EndTag || last_ == Last::Markup) && depth > 0) newLine(out, depth - 1);
    } else if (last_ != Last::Nothing && last_ != Last::Text) {
        newLine(out, depth);
    }
}

void XmlIndenter::endTagSeen() {
    if (!holdsText_.empty()) holdsText_.pop_back();
    last_ = Last::EndTag;
}

void XmlIndenter::feedOpaqueText() {
    markText();
}

void XmlIndenter::feed(std::string_view xml, std::string& out) {
    out.reserve(out.size() + xml.size() + xml.size() / 4);
    for (const char c : xml) {
        switch (state_) {
            case State::Content:
                if (c == '<') {
                    pending_.assign(1, '<');
                    state_ = State::Open;
                } else {
                    if (!isBlank(c)) markText();
                    out += c;
                }
                break;
            case State::Open:
                pending_ += c;
                if (pending_.size() == 2) {
                    if (c == '!') break;  // a comment, CDATA or a declaration: one more
                    tagIsDeclaration_ = false;
                    tagIsEnd_ = c == '/';
                    beginMarkup(out, tagIsEnd_);
                    state_ = c == '?' ? State::Pi : State::Tag;
                } else if (c == '[') {
                    markText();
                    terminatorSeen_ = 0;
                    state_ = State::Cdata;
                } else {
                    beginMarkup(out, false);
                    tagIsEnd_ = false;
                    tagIsDeclaration_ = true;
                    terminatorSeen_ = 0;
                    state_ = c == '-' ? State::Comment : State::Tag;
                }
                if (state_ != State::Open) out += pending_;
                break;
            case State::Tag:
                out += c;
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    state_ = State::Quoted;
                } else if (c == '>') {
                    state_ = State::Content;
                    if (tagIsDeclaration_) {
                        last_ = Last::Markup;
                    } else if (tagIsEnd_) {
                        endTagSeen();
                    } else if (previous_ == '/') {
                        last_ = Last::EndTag;  // an empty element is opened and closed at once
                    } else {
                        holdsText_.push_back(false);
                        last_ = Last::StartTag;
                    }
                }
                break;
            case State::Quoted:
                out += c;
                if (c == quote_) state_ = State::Tag;
                break;
            case State::Cdata:
                out += c;
                if (c == ']') {
                    terminatorSeen_ = terminatorSeen_ < 2 ? terminatorSeen_ + 1 : 2;
                } else if (c == '>' && terminatorSeen_ == 2) {
                    state_ = State::Content;
                    last_ = Last::Text;
                } else {
                    terminatorSeen_ = 0;
                }
                break;
            case State::Comment:
                out += c;
                // "<!--" has put one '-' behind us already; count only what follows it.
                if (c == '-') {
                    terminatorSeen_ = terminatorSeen_ < 2 ? terminatorSeen_ + 1 : 2;
                } else if (c == '>' && terminatorSeen_ == 2) {
                    state_ = State::Content;
                    last_ = Last::Markup;
                } else {
                    terminatorSeen_ = 0;
                }
                break;
            case State::Pi:
                out += c;
                if (c == '>' && previous_ == '?') {
                    state_ = State::Content;
                    last_ = Last::Markup;
                }
                break;
        }
        previous_ = c;
    }
}

ReplyBody indentedReply(const ReplyBody& body) {
    XmlIndenter indenter;
    ReplyBody result;
    body.forEachPiece([&](std::string_view text, const std::filesystem::path& file,
                          std::uintmax_t fileSize, std::size_t lineLength) {
        if (file.empty()) {
            indenter.feed(text, result.text());
        } else {
            indenter.feedOpaqueText();
            result.appendBase64OfFile(file, fileSize, lineLength);
        }
    });
    return result;
}

std::string indentedText(std::string_view xml) {
    XmlIndenter indenter;
    std::string out;
    indenter.feed(xml, out);
    return out;
}

}  // namespace ovk::refservice
