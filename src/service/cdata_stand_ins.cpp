#include "service/cdata_stand_ins.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.hpp"
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
constexpr std::size_t kIndexDigits = 16;

std::size_t find(std::string_view text, std::size_t from, std::string_view what) {
    if (from >= text.size()) return std::string_view::npos;
    const void* at = ::memmem(text.data() + from, text.size() - from, what.data(), what.size());
    return at == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
}

int preadAll(int fd, char* into, std::size_t size, off_t offset, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, into + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

CDataStandIns::CDataStandIns(int fd) : fd_(fd) {
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
        in_.resize(had + kBlock);
        std::size_t got = 0;
        errno_ = preadAll(fd_, in_.data() + had, kBlock, inOffset_ + static_cast<off_t>(had), got);
        in_.resize(had + got);
        if (got == 0) endOfFile_ = true;
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
            pass(i + 1 - at_);
            state_ = State::Text;
            return true;
        }
    }
    pass(i - at_);
    return false;
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
    sections_.push_back(Range{inOffset_ + static_cast<off_t>(bodyAt), 0});
    out_.append(kCDataStart).append(prefix_).append(index, kIndexDigits);
    at_ = bodyAt;
    state_ = State::LargeCData;
}

// Skips a large section's content up to its end, which is passed on; false when more input is
// needed first.
bool CDataStandIns::skipLargeCData() {
    const std::size_t end = findCDataEnd(in_, at_);
    if (end == std::string_view::npos) {
        at_ = std::max(at_, in_.size() - std::min(in_.size(), kCDataEnd.size() - 1));
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
            if (next.starts_with(kCDataStart)) {
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
                state_ = State::Tag;
            }
            return true;
        }
        case State::Comment:
        case State::Instruction:
            if (!fill(3)) return false;
            if (!passUntil(state_ == State::Comment ? "-->" : "?>") && endOfFile_)
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
            std::size_t got = 0;
            const int errnum =
                preadAll(fd_, block.data(), size, section.offset + static_cast<off_t>(done), got);
            if (errnum != 0 || got != size) {
                throw Error(err::DeviceIo, std::string("The download file cannot be read: ") +
                                               std::strerror(errnum != 0 ? errnum : EIO));
            }
            piece(std::string_view(block.data(), size));
            done += size;
        }
        from = digitsAt + kIndexDigits;
    }
    if (from < value.size()) piece(value.substr(from));
}

}  // namespace ovk
