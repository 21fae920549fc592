// SPDX-License-Identifier: MIT
#include "xml/cdata_stand_ins.hpp"

#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"

namespace ovk {
namespace {

constexpr std::string_view kCDataStart = "<![CDATA[";
constexpr std::string_view kCDataEnd = "]]>";
// Sections shorter than this go to the parser as they are. The parser's cost grows with the
// square of a section's size, so even sections of tens of kilobytes are worth a stand-in.
constexpr std::size_t kLargeSection = std::size_t{1} << 10;
// The file is read, and its payload scanned, a block at a time: one that stays in the
// processor's cache costs about a tenth less processor time than 4 MiB blocks did.
constexpr std::size_t kBlock = std::size_t{256} << 10;
// After a known section, reading starts small and doubles up to kBlock.
constexpr std::size_t kBlockAfterKnownSection = std::size_t{16} << 10;
constexpr std::size_t kIndexDigits = 16;
// Longer tag names are neither Project nor an Articleinfo: no need to hold them.
constexpr std::size_t kLongestTagName = 256;

std::size_t find(std::string_view text, std::size_t from, std::string_view what) {
    if (from >= text.size()) return std::string_view::npos;
    const void* at = ::memmem(text.data() + from, text.size() - from, what.data(), what.size());
    return at == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
}

}  // namespace

CDataStandIns::CDataStandIns(int fd, Scope scope, std::vector<std::string> readByName)
    : fd_(fd), scope_(scope), readSize_(kBlock), readByName_(std::move(readByName)) {
    // Random, so that no text the file holds can pass for a stand-in.
    prefix_ = unguessableName("ovk-cdata-") + "-";
}

int CDataStandIns::read(void* self, char* buffer, int length) {
    auto* input = static_cast<CDataStandIns*>(self);
    if (length <= 0) return 0;
    const auto wanted = static_cast<std::size_t>(length);
    try {
        while (input->out_.size() - input->outAt_ < wanted && input->step()) {
        }
    } catch (...) {
        if (input->errno_ == 0) input->errno_ = ENOMEM;
    }
    if (input->errno_ != 0) return -1;
    const std::size_t count = std::min(wanted, input->out_.size() - input->outAt_);
    // Bytes for libxml2's reader, which takes their count: no terminator belongs after them.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    std::memcpy(buffer, input->out_.data() + input->outAt_, count);
    input->outAt_ += count;
    if (input->outAt_ == input->out_.size()) {
        input->out_.clear();
        input->outAt_ = 0;
    }
    return static_cast<int>(count);
}

// Makes at least `wanted` bytes available from at_ on, unless the file ends first. False when
// nothing at all is left.
bool CDataStandIns::fill(std::size_t wanted) {
    while (available() < wanted && !endOfFile_ && errno_ == 0) {
        if (at_ >= kBlock) {
            in_.erase(0, at_);
            inOffset_ += static_cast<off_t>(at_);
            at_ = 0;
        }
        const std::size_t had = in_.size();
        in_.resize(had + readSize_);
        std::size_t got = 0;
        errno_ = files::readUpTo(fd_, in_.data() + had, readSize_,
                                 inOffset_ + static_cast<off_t>(had), got);
        in_.resize(had + got);
        if (got == 0) endOfFile_ = true;
        readSize_ = std::min(readSize_ * 2, kBlock);
    }
    return available() > 0;
}

void CDataStandIns::pass(std::size_t count) {
    out_.append(in_, at_, count);
    at_ += count;
}

// Passes everything up to and including `end`; false when more input is needed first.
bool CDataStandIns::passUntil(std::string_view end) {
    const std::size_t found = find(in_, at_, end);
    if (found != std::string_view::npos) {
        pass(found + end.size() - at_);
        state_ = State::Text;
        return true;
    }
    // The end may start in the last bytes.
    const std::size_t keep = std::min(available(), end.size() - 1);
    pass(available() - keep);
    return false;
}

// Passes a tag, or a declaration with its bracketed internal subset, up to its '>' outside
// quotes. Tags are short: a byte at a time is fine here.
bool CDataStandIns::passTag(bool declaration) {
    std::size_t i = at_;
    for (; i < in_.size(); ++i) {
        const char c = in_[i];
        if (quote_ != 0) {
            if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
            quote_ = c;
        } else if (declaration && c == '[') {
            ++depth_;
        } else if (declaration && c == ']') {
            --depth_;
        } else if (c == '>' && depth_ <= 0) {
            if (!declaration && scope_ == Scope::ProjectItems) {
                noteTag(std::string_view(in_).substr(at_, i - at_));
                tagEnded();
            }
            pass(i + 1 - at_);
            state_ = State::Text;
            return true;
        }
    }
    if (!declaration && scope_ == Scope::ProjectItems)
        noteTag(std::string_view(in_).substr(at_, i - at_));
    pass(i - at_);
    return false;
}

// Takes the name and the last byte of a tag from a piece of it.
void CDataStandIns::noteTag(std::string_view piece) {
    if (piece.empty()) return;
    tagLast_ = piece.back();
    for (const char c : piece) {
        if (tagNameDone_) return;
        if (c == '/' && tagName_.empty()) {
            tagName_ = "/";
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/') {
            tagNameDone_ = true;
        } else if (tagName_.size() >= kLongestTagName) {
            tagName_ = "-";  // a name no element of ours has
            tagNameDone_ = true;
        } else {
            tagName_.push_back(c);
        }
    }
}

// Follows the elements as the parser will see them, with the first Project and its
// Articleinfo children picked out as DownloadStructure picks them: the qualified name
// "Project", and the local name "Articleinfo" in any case.
void CDataStandIns::tagEnded() {
    const auto closeElement = [this] {
        if (itemDepth_ == elementDepth_) itemDepth_ = 0;
        if (readDepth_ == elementDepth_) readDepth_ = 0;
        if (projectDepth_ == elementDepth_) projectDepth_ = -1;
        --elementDepth_;
    };
    if (tagName_.starts_with('/')) {
        closeElement();
    } else {
        ++elementDepth_;
        const std::size_t colon = tagName_.find(':');
        const std::string_view local =
            std::string_view(tagName_).substr(colon == std::string::npos ? 0 : colon + 1);
        if (projectDepth_ == 0 && tagName_ == "Project") {
            projectDepth_ = elementDepth_;
        } else if (projectDepth_ > 0 && itemDepth_ == 0 && elementDepth_ == projectDepth_ + 1 &&
                   equalsIgnoringAsciiCase(local, "Articleinfo")) {
            itemDepth_ = elementDepth_;
        }
        if (readDepth_ == 0 && std::ranges::find(readByName_, tagName_) != readByName_.end())
            readDepth_ = elementDepth_;
        if (tagLast_ == '/') closeElement();
    }
    tagName_.clear();
    tagNameDone_ = false;
    tagLast_ = 0;
}

bool CDataStandIns::inScope() const {
    return scope_ == Scope::Everywhere || (itemDepth_ > 0 && readDepth_ == 0);
}

void CDataStandIns::startCData() {
    const std::size_t bodyAt = at_ + kCDataStart.size();
    const std::size_t end =
        findCDataEnd(std::string_view(in_).substr(0, bodyAt + kLargeSection), bodyAt);
    if (end != std::string_view::npos || endOfFile_) {
        // A short section, or one cut off by the end of the file: the parser has it as it is.
        pass(end == std::string_view::npos ? available() : end + kCDataEnd.size() - at_);
        state_ = State::Text;
        return;
    }
    char index[kIndexDigits + 1];
    std::snprintf(index, sizeof index, "%016llx",
                  static_cast<unsigned long long>(sections_.size()));
    const off_t bodyOffset = inOffset_ + static_cast<off_t>(bodyAt);
    sections_.push_back(Range{bodyOffset, 0});
    out_.append(kCDataStart).append(prefix_).append(index, kIndexDigits);
    if (passOverKnownSection(bodyOffset)) return;
    at_ = bodyAt;
    afterNonAscii_ = false;
    state_ = State::LargeCData;
}

// Skips a large section's content up to its end, which is passed on; false when more input is
// needed first.
bool CDataStandIns::skipLargeCData() {
    const std::size_t end = findCDataEnd(in_, at_);
    const std::size_t skipped =
        end != std::string_view::npos
            ? end
            : std::max(at_, in_.size() - std::min(in_.size(), kCDataEnd.size() - 1));
    if (scope_ == Scope::ProjectItems)
        keepWhatTheParserChecks(skipped, end != std::string_view::npos);
    if (end == std::string_view::npos) {
        at_ = skipped;
        return false;
    }
    Range& section = sections_.back();
    section.length =
        static_cast<std::uint64_t>(inOffset_ + static_cast<off_t>(end) - section.offset);
    at_ = end;
    pass(kCDataEnd.size());
    state_ = State::Text;
    return true;
}

// Ends the section just begun at `bodyOffset` at once when it is a known one whose end still
// stands where it was written, and reads on after that end.
bool CDataStandIns::passOverKnownSection(off_t bodyOffset) {
    if (scope_ != Scope::Everywhere) return false;
    while (nextKnown_ < known_.size() && known_[nextKnown_].offset < bodyOffset) ++nextKnown_;
    if (nextKnown_ == known_.size() || known_[nextKnown_].offset != bodyOffset) return false;
    const Range known = known_[nextKnown_++];
    const off_t end = bodyOffset + static_cast<off_t>(known.length);
    char after[kCDataEnd.size()];
    if (files::readAt(fd_, after, sizeof after, end) != 0 ||
        std::string_view(after, sizeof after) != kCDataEnd) {
        return false;
    }
    sections_.back().length = known.length;
    out_.append(kCDataEnd);
    in_.clear();
    at_ = 0;
    inOffset_ = end + static_cast<off_t>(kCDataEnd.size());
    // What follows is most often the few kilobytes of markup up to the next known section.
    readSize_ = kBlockAfterKnownSection;
    state_ = State::Text;
    return true;
}

// Passes on, after the stand-in, what the parser checks or counts in the section's bytes up to
// `to`: every byte that is not plain ASCII text (those of multi-byte characters, control
// characters), each run of them followed by a plain byte as in the file, so that the parser
// finds a character XML forbids or broken UTF-8 as it would have in the file; and the line
// breaks, so that its line numbers after the section are the file's. A payload (Base64) has
// nothing but plain text and line breaks: 16 bytes at a time are checked for that.
void CDataStandIns::keepWhatTheParserChecks(std::size_t to, bool sectionEnds) {
    const auto keep = [this](const char* from, const char* end) {
        for (; from < end; ++from) {
            const auto c = static_cast<unsigned char>(*from);
            if (c >= 0x80) {
                out_.push_back(*from);
                afterNonAscii_ = true;
                continue;
            }
            if (afterNonAscii_) out_.push_back('x');
            afterNonAscii_ = false;
            if (c == '\n') ++pendingLineBreaks_;
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') out_.push_back(*from);
        }
    };
    const char* at = in_.data() + at_;
    const char* const end = in_.data() + to;
#ifdef __SSE2__
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i lineFeeds = _mm_cmpeq_epi8(bytes, lineFeed);
        const __m128i allowed = _mm_or_si128(
            lineFeeds,
            _mm_or_si128(_mm_cmpeq_epi8(bytes, tab), _mm_cmpeq_epi8(bytes, carriageReturn)));
        // Signed: the bytes from 0x80 on count as below the space too.
        if (_mm_movemask_epi8(_mm_andnot_si128(allowed, _mm_cmplt_epi8(bytes, space))) != 0) {
            keep(at, at + 16);
            continue;
        }
        pendingLineBreaks_ += static_cast<std::uint64_t>(
            __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(lineFeeds))));
        if (afterNonAscii_) out_.push_back('x');
        afterNonAscii_ = false;
    }
#endif
    keep(at, end);
    // Line breaks in the middle of a character would break it in two.
    if (sectionEnds || !afterNonAscii_) {
        out_.append(pendingLineBreaks_, '\n');
        pendingLineBreaks_ = 0;
    }
}

// Moves at least one byte of input on (or ends the section being skipped); false at the end of
// the file.
bool CDataStandIns::step() {
    switch (state_) {
        case State::Text: {
            if (!fill(1)) return false;
            const void* lt = std::memchr(in_.data() + at_, '<', available());
            if (lt == nullptr) {
                pass(available());
            } else {
                pass(static_cast<std::size_t>(static_cast<const char*>(lt) - in_.data()) - at_);
                state_ = State::Markup;
            }
            return true;
        }
        case State::Markup: {
            fill(kCDataStart.size());
            const std::string_view next = std::string_view(in_).substr(at_);
            if (next.starts_with(kCDataStart) && !inScope()) {
                pass(kCDataStart.size());
                state_ = State::CData;
            } else if (next.starts_with(kCDataStart)) {
                fill(kCDataStart.size() + kLargeSection + kCDataEnd.size());
                startCData();
            } else if (next.starts_with("<!--")) {
                pass(4);
                state_ = State::Comment;
            } else if (next.starts_with("<?")) {
                pass(2);
                state_ = State::Instruction;
            } else if (next.starts_with("<!") && next.size() >= kCDataStart.size()) {
                pass(2);
                depth_ = 0;
                quote_ = 0;
                state_ = State::Declaration;
            } else if (next.size() < kCDataStart.size() && endOfFile_) {
                pass(available());  // too short for anything but an error of the parser's
                state_ = State::Text;
            } else {
                pass(1);
                quote_ = 0;
                depth_ = 0;
                tagName_.clear();
                tagNameDone_ = false;
                tagLast_ = 0;
                state_ = State::Tag;
            }
            return true;
        }
        case State::Comment:
        case State::Instruction:
        case State::CData:
            if (!fill(3)) return false;
            if (!passUntil(state_ == State::Comment       ? "-->"
                           : state_ == State::Instruction ? "?>"
                                                          : kCDataEnd) &&
                endOfFile_)
                pass(available());
            return true;
        case State::Declaration:
        case State::Tag:
            if (!fill(1)) return false;
            passTag(state_ == State::Declaration);
            return true;
        case State::LargeCData:
            if (!fill(kCDataEnd.size())) return false;
            if (!skipLargeCData() && endOfFile_) return false;
            return true;
    }
    return false;
}

std::optional<CDataStandIns::Range> CDataStandIns::wholeSection(std::string_view value) const {
    if (value.size() != prefix_.size() + kIndexDigits || !value.starts_with(prefix_))
        return std::nullopt;
    const std::string digits(value.substr(prefix_.size()));
    char* end = nullptr;
    const auto index = static_cast<std::size_t>(std::strtoull(digits.c_str(), &end, 16));
    if (end != digits.c_str() + kIndexDigits || index >= sections_.size()) return std::nullopt;
    return sections_[index];
}

void CDataStandIns::expand(std::string_view value,
                           const std::function<void(std::string_view)>& piece) const {
    std::string& block = block_;
    std::size_t from = 0;
    for (std::size_t at; (at = value.find(prefix_, from)) != std::string_view::npos;) {
        const std::size_t digitsAt = at + prefix_.size();
        if (digitsAt + kIndexDigits > value.size()) break;
        const std::string digits(value.substr(digitsAt, kIndexDigits));
        const auto index = static_cast<std::size_t>(std::strtoull(digits.c_str(), nullptr, 16));
        if (index >= sections_.size()) break;
        if (at > from) piece(value.substr(from, at - from));
        const Range& section = sections_[index];
        // Sized once: fresh pages for every section would cost more than copying them.
        if (block.size() < std::min<std::uint64_t>(section.length, kBlock))
            block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(section.length, kBlock)));
        for (std::uint64_t done = 0; done < section.length;) {
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(section.length - done, kBlock));
            if (const int errnum = files::readAt(fd_, block.data(), size,
                                                 section.offset + static_cast<off_t>(done))) {
                throw Error(err::DeviceIo, std::string("The download file cannot be read: ") +
                                               std::strerror(errnum));
            }
            piece(std::string_view(block.data(), size));
            done += size;
        }
        from = digitsAt + kIndexDigits;
    }
    if (from < value.size()) piece(value.substr(from));
}

}  // namespace ovk
