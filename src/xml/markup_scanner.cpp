// SPDX-License-Identifier: MIT
#include "xml/markup_scanner.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ovk::xml {

namespace {

using Kind = MarkupScanner::Kind;

constexpr std::string_view kCdataOpener = "<![CDATA[";
constexpr std::string_view kCommentOpener = "<!--";

// Where `c` is in text[from, to), or `to`.
std::size_t findByte(std::string_view text, std::size_t from, char c) {
    if (from >= text.size()) return text.size();
    const void* at = std::memchr(text.data() + from, c, text.size() - from);
    return at == nullptr ? text.size()
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
}

// Where the first '>' or quote is in text[from, size), or size. Tags are short, but a reply is
// mostly tags: sixteen bytes at a time where the processor has SSE2.
std::size_t findTagEndOrQuote(std::string_view text, std::size_t from) {
    std::size_t at = from;
#if defined(__SSE2__)
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i apostrophe = _mm_set1_epi8('\'');
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const int hits = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, gt),
                         _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, apostrophe))));
        if (hits != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#endif
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '>' || c == '"' || c == '\'') return at;
    }
    return text.size();
}

}  // namespace

std::string_view MarkupScanner::opener(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return {};
        case Kind::Tag:
            return "<";
        case Kind::Comment:
            return kCommentOpener;
        case Kind::Instruction:
            return "<?";
        case Kind::Cdata:
            return kCdataOpener;
        case Kind::Declaration:
            return "<!";
    }
    return {};
}

std::string_view MarkupScanner::closer(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return {};
        case Kind::Tag:
        case Kind::Declaration:
            return ">";
        case Kind::Comment:
            return "-->";
        case Kind::Instruction:
            return "?>";
        case Kind::Cdata:
            return "]]>";
    }
    return {};
}

void MarkupScanner::feed(std::string_view chunk) {
    chunkOffset_ += chunk_.size();
    chunk_ = chunk;
    at_ = 0;
}

void MarkupScanner::resumeAt(std::uint64_t offset, Kind inside) {
    *this = MarkupScanner{};
    chunkOffset_ = offset;
    if (inside == Kind::Text) return;
    open(inside);
    contentStarted_ = true;
}

MarkupScanner::Piece MarkupScanner::piece(std::size_t from, std::size_t to, bool ends) {
    Piece made{kind_, chunk_.substr(from, to - from), chunkOffset_ + from, !contentStarted_, ends};
    contentStarted_ = true;
    return made;
}

void MarkupScanner::open(Kind kind) {
    state_ = State::Content;
    kind_ = kind;
    contentStarted_ = false;
    closerHeld_ = 0;
    quote_ = 0;
    depth_ = 0;
}

bool MarkupScanner::emitHeld(Piece& out, std::string_view held, std::uint64_t offset) {
    out = Piece{kind_, held, offset, !contentStarted_, false};
    contentStarted_ = true;
    return true;
}

bool MarkupScanner::next(Piece& out) {
    while (at_ < chunk_.size()) {
        if (state_ == State::Text) {
            const std::size_t lt = findByte(chunk_, at_, '<');
            const std::size_t from = at_;
            const bool ends = lt < chunk_.size();
            if (ends) {
                state_ = State::Opening;
                openerHeld_ = 1;
                kind_ = Kind::Tag;
                constructStart_ = chunkOffset_ + lt;
                at_ = lt + 1;
            } else {
                at_ = chunk_.size();
            }
            // Text that ran to the last chunk's end ends here, with nothing more of it.
            if (lt == from && !textStarted_) continue;
            out = Piece{Kind::Text, chunk_.substr(from, lt - from), chunkOffset_ + from,
                        !textStarted_, ends};
            textStarted_ = !ends;
            return true;
        }
        if (state_ == State::Opening ? nextOpening(out) : nextContent(out)) return true;
    }
    return false;
}

// Decides the kind of markup from the bytes after "<", one at a time: openers are short.
bool MarkupScanner::nextOpening(Piece& out) {
    const char c = chunk_[at_];
    const std::uint64_t here = chunkOffset_ + at_;
    switch (openerHeld_) {
        case 1:
            if (c == '?') {
                ++at_;
                open(Kind::Instruction);
            } else if (c == '!') {
                ++at_;
                openerHeld_ = 2;
            } else {
                open(Kind::Tag);
            }
            return false;
        case 2:
            if (c == '-' || c == '[') {
                ++at_;
                openerHeld_ = 3;
                kind_ = c == '-' ? Kind::Comment : Kind::Cdata;
            } else {
                open(Kind::Declaration);
            }
            return false;
        default:
            break;
    }
    const std::string_view target = kind_ == Kind::Comment ? kCommentOpener : kCdataOpener;
    if (c == target[openerHeld_]) {
        ++at_;
        if (++openerHeld_ == target.size()) open(kind_);
        return false;
    }
    // Not the opener it began like: a declaration whose content starts with the bytes held.
    const std::string_view held = target.substr(2, openerHeld_ - 2);
    open(Kind::Declaration);
    if (held.front() == '[') depth_ = 1;
    return emitHeld(out, held, here - held.size());
}

bool MarkupScanner::nextContent(Piece& out) {
    if (kind_ == Kind::Tag || kind_ == Kind::Declaration) return nextTagContent(out);
    return nextDelimitedContent(out);
}

// A tag or declaration ends at the first '>' outside quotes (and, in a declaration, outside its
// "[…]" subset). Tags are short: a byte at a time is fine here.
bool MarkupScanner::nextTagContent(Piece& out) {
    const bool declaration = kind_ == Kind::Declaration;
    const std::size_t from = at_;
    for (std::size_t i = at_; i < chunk_.size(); ++i) {
        if (!declaration && quote_ == 0) i = findTagEndOrQuote(chunk_, i);
        if (i == chunk_.size()) break;
        const char c = chunk_[i];
        if (quote_ != 0) {
            const std::size_t close = findByte(chunk_, i, quote_);
            if (close == chunk_.size()) break;
            quote_ = 0;
            i = close;
        } else if (c == '"' || c == '\'') {
            quote_ = c;
        } else if (declaration && c == '[') {
            ++depth_;
        } else if (declaration && c == ']') {
            --depth_;
        } else if (c == '>' && depth_ <= 0) {
            out = piece(from, i, true);
            at_ = i + 1;
            state_ = State::Text;
            textStarted_ = false;
            return true;
        }
    }
    at_ = chunk_.size();
    if (at_ == from && contentStarted_) return false;
    out = piece(from, at_, false);
    return true;
}

// Comments, processing instructions and CDATA sections end at their closer, whatever lies
// before it. A closer's first bytes at the end of a chunk are held until the next one tells.
bool MarkupScanner::nextDelimitedContent(Piece& out) {
    const std::string_view close = closer(kind_);
    const char first = close.front();
    if (closerHeld_ > 0) {
        const char c = chunk_[at_];
        const std::uint64_t heldAt = chunkOffset_ + at_ - closerHeld_;
        if (c == close[closerHeld_]) {
            ++at_;
            if (++closerHeld_ < close.size()) return false;
            out = Piece{kind_, {}, heldAt, !contentStarted_, true};
            state_ = State::Text;
            textStarted_ = false;
            return true;
        }
        if (c == first) {
            // "]]]": the oldest "]" is content, the last two may still close the section.
            ++at_;
            return emitHeld(out, close.substr(0, 1), heldAt);
        }
        const std::string_view held = close.substr(0, closerHeld_);
        closerHeld_ = 0;
        return emitHeld(out, held, heldAt);
    }
    const std::size_t from = at_;
    for (std::size_t search = from;;) {
        const std::size_t at = findByte(chunk_, search, first);
        std::size_t matched = 0;
        while (at + matched < chunk_.size() && matched < close.size() &&
               chunk_[at + matched] == close[matched])
            ++matched;
        if (matched == close.size()) {
            out = piece(from, at, true);
            at_ = at + matched;
            state_ = State::Text;
            textStarted_ = false;
            return true;
        }
        if (at + matched == chunk_.size()) {
            closerHeld_ = static_cast<std::uint8_t>(matched);
            at_ = chunk_.size();
            if (at == from && contentStarted_) return false;
            out = piece(from, at, false);
            return true;
        }
        search = at + 1;
    }
}

bool MarkupScanner::finish(Piece& out) {
    if (state_ == State::Text) return false;
    if (state_ == State::Opening) {
        const std::uint64_t afterLt = constructStart_ + 1;
        if (openerHeld_ == 1) {
            open(Kind::Tag);
            return emitHeld(out, {}, afterLt);
        }
        const std::string_view target = kind_ == Kind::Comment ? kCommentOpener : kCdataOpener;
        const std::string_view held = target.substr(2, openerHeld_ - 2);
        open(Kind::Declaration);
        return emitHeld(out, held, afterLt + 1);
    }
    if (closerHeld_ > 0) {
        const std::string_view held = closer(kind_).substr(0, closerHeld_);
        closerHeld_ = 0;
        return emitHeld(out, held, fed() - held.size());
    }
    if (contentStarted_) return false;
    return emitHeld(out, {}, fed());
}

}  // namespace ovk::xml
