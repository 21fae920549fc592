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
    std::memcpy(buffer, input->out_.data() + input->outAt_, count);
    input->outAt_ += count;
    if (input->outAt_ == input->out_.size()) {
        input->out_.clear();
        input->outAt_ = 0;
    }
    return static_cast<int>(count);
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

// Reads the next block of the file and passes on what it holds; false once the file has ended
// and everything held back went out.
bool CDataStandIns::step() {
    if (endOfFile_) return false;
    in_.resize(readSize_);
    std::size_t got = 0;
    errno_ = files::readUpTo(fd_, in_.data(), readSize_, readAt_, got);
    if (errno_ != 0) return false;
    in_.resize(got);
    readAt_ += static_cast<off_t>(got);
    readSize_ = std::min(readSize_ * 2, kBlock);
    xml::MarkupScanner::Piece piece;
    if (got == 0) {
        endOfFile_ = true;
        if (scanner_.finish(piece)) take(piece);
        // A section cut off by the end of the file goes to the parser as it is, so that it
        // reports the file as not well-formed.
        if (section_ == Section::Undecided) out_.append(kCDataStart).append(undecided_);
        return true;
    }
    scanner_.feed(in_);
    while (scanner_.next(piece)) take(piece);
    return true;
}

void CDataStandIns::take(const xml::MarkupScanner::Piece& piece) {
    using Kind = xml::MarkupScanner::Kind;
    if (piece.kind == Kind::Cdata && (section_ != Section::None || inScope())) {
        takeCData(piece);
        return;
    }
    if (piece.kind == Kind::Tag && scope_ == Scope::ProjectItems) {
        if (piece.starts) {
            tagName_.clear();
            tagNameDone_ = false;
            tagLast_ = 0;
        }
        noteTag(piece.content);
        if (piece.ends) tagEnded();
    }
    passOn(piece);
}

void CDataStandIns::passOn(const xml::MarkupScanner::Piece& piece) {
    if (piece.starts) out_.append(xml::MarkupScanner::opener(piece.kind));
    out_.append(piece.content);
    if (piece.ends) out_.append(xml::MarkupScanner::closer(piece.kind));
}

// A section in scope is held back until it proves large (kLargeSection of content): a short
// one goes to the parser as it is, a large one as a stand-in.
void CDataStandIns::takeCData(const xml::MarkupScanner::Piece& piece) {
    if (piece.starts) {
        section_ = Section::Undecided;
        undecided_.clear();
        undecidedOffset_ = static_cast<off_t>(piece.offset);
    }
    if (section_ == Section::Undecided) {
        if (undecided_.size() + piece.content.size() < kLargeSection) {
            if (!piece.ends) {
                undecided_.append(piece.content);
                return;
            }
            out_.append(kCDataStart).append(undecided_).append(piece.content).append(kCDataEnd);
            section_ = Section::None;
            return;
        }
        // Passed over, the section is done with; else its content goes on below.
        if (standIn()) return;
    }
    if (section_ != Section::StoodIn) {
        passOn(piece);
        section_ = piece.ends ? Section::None : Section::PassedOn;
        return;
    }
    if (scope_ == Scope::ProjectItems) keepWhatTheParserChecks(piece.content, piece.ends);
    if (!piece.ends) return;
    sections_.back().length =
        piece.offset + piece.content.size() - static_cast<std::uint64_t>(sections_.back().offset);
    out_.append(kCDataEnd);
    section_ = Section::None;
}

// The section being read is large: the parser gets a stand-in naming it instead of its content.
// True when the section was passed over whole.
bool CDataStandIns::standIn() {
    char index[kIndexDigits + 1];
    std::snprintf(index, sizeof index, "%016llx",
                  static_cast<unsigned long long>(sections_.size()));
    sections_.push_back(Range{undecidedOffset_, 0});
    out_.append(kCDataStart).append(prefix_).append(index, kIndexDigits);
    section_ = Section::StoodIn;
    if (passOverKnownSection(undecidedOffset_)) return true;
    if (scope_ == Scope::ProjectItems) {
        afterNonAscii_ = false;
        keepWhatTheParserChecks(undecided_, false);
    }
    undecided_.clear();
    return false;
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
    section_ = Section::None;
    // The rest of the block read lies inside the section: the scan goes on after its end.
    readAt_ = end + static_cast<off_t>(kCDataEnd.size());
    scanner_.resumeAt(static_cast<std::uint64_t>(readAt_));
    // What follows is most often the few kilobytes of markup up to the next known section.
    readSize_ = kBlockAfterKnownSection;
    return true;
}

// Passes on, after the stand-in, what the parser checks or counts in the section's content:
// every byte that is not plain ASCII text (those of multi-byte characters, control
// characters), each run of them followed by a plain byte as in the file, so that the parser
// finds a character XML forbids or broken UTF-8 as it would have in the file; and the line
// breaks, so that its line numbers after the section are the file's. A payload (Base64) has
// nothing but plain text and line breaks: 16 bytes at a time are checked for that.
void CDataStandIns::keepWhatTheParserChecks(std::string_view content, bool sectionEnds) {
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
    const char* at = content.data();
    const char* const end = content.data() + content.size();
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
