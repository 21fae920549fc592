// SPDX-License-Identifier: MIT
#include "soap/secret_masker.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/text.hpp"

namespace ovk::soap {
namespace {

constexpr std::string_view kMask = "***";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An XML entity or character reference at the start of `text`: what it stands for and how
// long it is.
struct Reference {
    std::string stands;
    std::size_t length = 0;
};

std::optional<Reference> referenceAt(std::string_view text) {
    const std::size_t end = text.find(';');
    if (end == std::string_view::npos || end > 12) return std::nullopt;
    const std::string_view body = text.substr(1, end - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [name, c] : kNamed) {
        if (body == name) return Reference{std::string(1, c), end + 1};
    }
    if (body.size() < 2 || body[0] != '#') return std::nullopt;
    const bool hex = body[1] == 'x' || body[1] == 'X';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    std::uint32_t code = 0;
    for (const char c : digits) {
        const int v = hex ? hexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (v < 0) return std::nullopt;
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
        if (code > 0x10FFFF) return std::nullopt;
    }
    Reference reference{{}, end + 1};
    appendUtf8(reference.stands, code);
    return reference;
}

// How many characters of `text` from `at` spell `secret` in any mix of its raw, XML-escaped
// and percent-encoded forms; 0 when they do not.
std::size_t encodedLength(std::string_view text, std::size_t at, std::string_view secret) {
    std::size_t pos = at;
    for (std::size_t i = 0; i < secret.size();) {
        if (pos >= text.size()) return 0;
        const char c = text[pos];
        if (c == '&') {
            if (const auto ref = referenceAt(text.substr(pos));
                ref && secret.substr(i, ref->stands.size()) == ref->stands) {
                i += ref->stands.size();
                pos += ref->length;
                continue;
            }
        } else if (c == '%' && pos + 2 < text.size() && hexValue(text[pos + 1]) >= 0 &&
                   hexValue(text[pos + 2]) >= 0) {
            const auto byte =
                static_cast<char>(hexValue(text[pos + 1]) * 16 + hexValue(text[pos + 2]));
            if (secret[i] == byte) {
                ++i;
                pos += 3;
                continue;
            }
        } else if (c == '+' && secret[i] == ' ') {
            ++i;
            ++pos;
            continue;
        }
        if (c != secret[i]) return 0;
        ++i;
        ++pos;
    }
    return pos - at;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (static_cast<std::uint8_t>(bytes[i]) << 16) |
                                (static_cast<std::uint8_t>(bytes[i + 1]) << 8) |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The Base64 digits that depend on the secret alone when it starts `offset` bytes into a
// group of three: the digits holding bits of the bytes before or after it differ from text
// to text.
std::string base64Core(const std::string& secret, std::size_t offset) {
    const std::string encoded = base64(std::string(offset, '\0') + secret);
    const std::size_t total = offset + secret.size();
    // Digit k covers bits [6k, 6k + 6) of the bytes; keep those inside the secret's bits.
    const std::size_t first = (offset * 8 + 5) / 6;
    const std::size_t end = total * 8 / 6;
    if (end <= first) return {};
    return encoded.substr(first, end - first);
}

}  // namespace

void SecretMasker::add(const std::string& secret) {
    if (secret.empty() || std::find(secrets_.begin(), secrets_.end(), secret) != secrets_.end())
        return;
    secrets_.push_back(secret);
    std::sort(secrets_.begin(), secrets_.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (std::string form :
         {base64(secret), base64Core(secret, 0), base64Core(secret, 1), base64Core(secret, 2)}) {
        if (form.size() >= 4 &&
            std::find(base64Forms_.begin(), base64Forms_.end(), form) == base64Forms_.end())
            base64Forms_.push_back(std::move(form));
    }
    std::sort(base64Forms_.begin(), base64Forms_.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    starts_[static_cast<unsigned char>(secret.front())] = true;
    starts_['&'] = starts_['%'] = true;
    if (secret.front() == ' ') starts_['+'] = true;
    for (const std::string& form : base64Forms_)
        starts_[static_cast<unsigned char>(form[0])] = true;
}

std::size_t SecretMasker::secretAt(std::string_view text, std::size_t at) const {
    for (const std::string& secret : secrets_) {
        if (const std::size_t length = encodedLength(text, at, secret)) return length;
    }
    for (const std::string& form : base64Forms_) {
        if (text.substr(at, form.size()) == form) return form.size();
    }
    return 0;
}

std::string SecretMasker::masked(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (!starts_[static_cast<unsigned char>(text[at])]) {
            out += text[at++];
            continue;
        }
        const std::size_t length = secretAt(text, at);
        if (length > 0) {
            out += kMask;
            at += length;
        } else {
            out += text[at++];
        }
    }
    return out;
}

}  // namespace ovk::soap
