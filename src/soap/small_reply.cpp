// SPDX-License-Identifier: MIT
#include "soap/small_reply.hpp"

#include <libxml/tree.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ranges>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "xml/libxml_handles.hpp"
#include "xml/markup_scanner.hpp"

namespace ovk::soap {

namespace {

using Kind = xml::MarkupScanner::Kind;
using Piece = xml::MarkupScanner::Piece;

// Element lines beyond this are kept elsewhere by libxml2; such a reply is left to it.
constexpr std::size_t kMostLines = 65000;
// What one byte of markup can cost as a tree at most (an attribute " a=''" is two nodes for
// five bytes). Below this allowance per byte the reply is left to the parser, which counts.
constexpr std::uint64_t kMostTreeBytesPerByte = 100;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The bytes of ASCII names: letters, digits, ".", "-", "_" (1), and those that may start one (2).
constexpr auto kNameBytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] = table[c - 'a' + 'A'] = 3;
    for (int c = '0'; c <= '9'; ++c) table[c] = 1;
    table['.'] = table['-'] = 1;
    table['_'] = 3;
    return table;
}();

bool isNameStart(char c) {
    return (kNameBytes[static_cast<unsigned char>(c)] & 2) != 0;
}
bool isNameByte(char c) {
    return kNameBytes[static_cast<unsigned char>(c)] != 0;
}

// How many line feeds text[0, size) holds. Sixteen bytes at a time where the processor has
// SSE2: each lane counts down by one per line feed, and the lanes are summed before a count
// could wrap.
std::size_t lineFeeds(const char* text, std::size_t size) {
    std::size_t count = 0;
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    while (at + 16 <= size) {
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < 255 && at + 16 <= size; ++round, at += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, lineFeed));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; at < size; ++at) count += text[at] == '\n' ? 1 : 0;
    return count;
}

// Checks one character from text[i] that is not printable ASCII; its length, or 0 when XML (or
// this reader) does not take it.
std::size_t checkedCharacter(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\t' || c == '\n') return 1;
    if (c < 0xC2 || c > 0xF4) return 0;
    const std::size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + length > text.size()) return 0;
    std::uint32_t code = c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
}

// Whether `text` is UTF-8 of characters XML allows, without carriage returns (which XML turns
// into line feeds) and with few enough lines. Sixteen bytes at a time where the processor has
// SSE2: as signed bytes, 0x80 and above are negative, so one comparison finds every byte that
// is neither printable ASCII nor a tab or line feed.
bool readableText(std::string_view text) {
    if (lineFeeds(text.data(), text.size()) >= kMostLines) return false;
    std::size_t i = 0;
    while (i < text.size()) {
#if defined(__SSE2__)
        const __m128i control = _mm_set1_epi8(0x1F);
        const __m128i tab = _mm_set1_epi8('\t');
        const __m128i lineFeed = _mm_set1_epi8('\n');
        for (; i + 16 <= text.size(); i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            const __m128i fine =
                _mm_or_si128(_mm_cmpgt_epi8(v, control),
                             _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lineFeed)));
            if (_mm_movemask_epi8(fine) != 0xFFFF) break;
        }
        if (i >= text.size()) break;
#endif
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = checkedCharacter(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// The character a reference ("#60", "#x3C", "lt") stands for; 0 for one this reader leaves to
// libxml2.
std::uint32_t referenced(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    if (name.size() < 2 || name.size() > 9 || name[0] != '#') return 0;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    std::uint32_t code = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return 0;
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    return allowed ? code : 0;
}

// Appends `raw` with its references replaced; in an attribute value, tabs and line feeds
// become spaces as XML normalises them. False for what this reader leaves to libxml2.
bool appendDecoded(std::string& out, std::string_view raw, bool attribute) {
    for (std::size_t at = 0; at < raw.size();) {
        const std::size_t amp = raw.find('&', at);
        const std::string_view plain = raw.substr(at, amp - at);
        const std::size_t from = out.size();
        out.append(plain);
        if (attribute)
            std::replace_if(
                out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                [](char c) { return c == '\t' || c == '\n'; }, ' ');
        if (amp == std::string_view::npos) return true;
        const std::size_t semicolon = raw.find(';', amp);
        if (semicolon == std::string_view::npos) return false;
        const std::uint32_t code = referenced(raw.substr(amp + 1, semicolon - amp - 1));
        if (code == 0) return false;
        appendUtf8(out, code);
        at = semicolon + 1;
    }
    return true;
}

// "prefix:local" or "local", each an ASCII name.
bool splitName(std::string_view qname, std::string_view& prefix, std::string_view& local) {
    const std::size_t colon = qname.find(':');
    prefix = colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
    local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    const auto valid = [](std::string_view name) {
        return !name.empty() && isNameStart(name[0]) &&
               std::all_of(name.begin(), name.end(), isNameByte);
    };
    return valid(local) && (colon == std::string_view::npos || valid(prefix));
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

xmlChar* copyName(std::string_view name) {
    return xmlStrndup(reinterpret_cast<const xmlChar*>(name.data()), static_cast<int>(name.size()));
}

class SmallReplyReader {
  public:
    SmallReplyReader(std::string_view body, const ReplyLimits& limits)
        : body_(body), limits_(limits) {}

    std::optional<xml::Document> read();

  private:
    struct Attribute {
        std::string_view qname, prefix, local, raw;
    };
    struct Binding {
        std::string_view prefix;  // empty: the default namespace
        xmlNs* ns;
    };
    struct Open {
        std::string_view qname;
        std::size_t bindings;  // how many bindings were in scope before it
    };

    bool take(const Piece& piece);
    bool declaration(std::string_view content);
    bool instruction(std::string_view content, std::uint64_t end);
    bool comment(std::string_view content, std::uint64_t end);
    bool text(std::string_view content);
    bool cdata(std::string_view content);
    bool startTag(std::string_view content, std::uint64_t end);
    bool readAttributes(std::string_view rest);
    bool declareNamespaces(xmlNode* node);
    bool addAttributes(xmlNode* node);
    bool endTag(std::string_view content);
    bool flushText();
    bool addChild(xmlNode* node);
    xmlNs* bound(std::string_view prefix) const;
    unsigned short lineAt(std::uint64_t offset);

    std::string_view body_;
    const ReplyLimits& limits_;
    std::unique_ptr<xmlDoc, DocFree> doc_;
    xmlNode* parent_ = nullptr;
    bool rootDone_ = false;
    bool first_ = true;
    std::vector<Open> open_;
    std::vector<Binding> bindings_;
    std::vector<Attribute> attributes_;
    xmlElementType pendingType_ = XML_TEXT_NODE;
    bool pending_ = false;
    std::string pendingText_;
    std::string scratch_;
    std::string version_ = "1.0";
    std::string encoding_;
    int standalone_ = -1;
    std::uint64_t lineOffset_ = 0;
    unsigned short line_ = 1;
};

std::optional<xml::Document> SmallReplyReader::read() {
    if (body_.substr(0, 3) == "\xEF\xBB\xBF") body_.remove_prefix(3);
    if (body_.empty() || !readableText(body_)) return std::nullopt;
    doc_.reset(xmlNewDoc(BAD_CAST "1.0"));
    if (!doc_) return std::nullopt;
    xml::MarkupScanner scanner;
    scanner.feed(body_);
    Piece piece;
    while (scanner.next(piece)) {
        if (!take(piece)) return std::nullopt;
        first_ = false;
    }
    if (scanner.finish(piece) || !rootDone_) return std::nullopt;
    xmlDoc* doc = doc_.get();
    xmlFree(const_cast<xmlChar*>(doc->version));
    doc->version = xmlStrdup(BAD_CAST version_.c_str());
    if (!encoding_.empty()) doc->encoding = xmlStrdup(BAD_CAST encoding_.c_str());
    doc->standalone = standalone_;
    // As libxml2's push parser leaves a document it built.
    doc->properties = 0;
    doc->parseFlags = xml::detail::parserOptions();
    return xml::Document::adopt(doc_.release());
}

bool SmallReplyReader::take(const Piece& piece) {
    // Whole pieces only: the reply is scanned in one chunk.
    if (!piece.starts || (!piece.ends && piece.kind != Kind::Text)) return false;
    const std::uint64_t end =
        piece.offset + piece.content.size() + xml::MarkupScanner::closer(piece.kind).size();
    switch (piece.kind) {
        case Kind::Text:
            return text(piece.content);
        case Kind::Tag:
            if (!flushText()) return false;
            if (piece.content.starts_with('/')) return endTag(piece.content.substr(1));
            return startTag(piece.content, end - 1);
        case Kind::Comment:
            return flushText() && comment(piece.content, end);
        case Kind::Instruction:
            if (first_ && piece.content.starts_with("xml") && piece.content.size() > 3 &&
                isSpace(piece.content[3]))
                return declaration(piece.content.substr(3));
            return flushText() && instruction(piece.content, end);
        case Kind::Cdata:
            return cdata(piece.content);
        case Kind::Declaration:
            return false;
    }
    return false;
}

unsigned short SmallReplyReader::lineAt(std::uint64_t offset) {
    line_ +=
        static_cast<unsigned short>(lineFeeds(body_.data() + lineOffset_, offset - lineOffset_));
    lineOffset_ = offset;
    return line_;
}

// version, then encoding and standalone if given: only what reads as UTF-8 XML 1.0.
bool SmallReplyReader::declaration(std::string_view rest) {
    const auto pseudoAttribute = [&rest](std::string_view name, std::string& value) {
        const std::size_t start = rest.find_first_not_of(" \t\n");
        if (start == std::string_view::npos || start == 0 ||
            rest.substr(start, name.size()) != name)
            return false;
        std::string_view after = rest.substr(start + name.size());
        after.remove_prefix(std::min(after.size(), after.find_first_not_of(" \t\n")));
        if (after.empty() || after[0] != '=') return false;
        after.remove_prefix(1);
        after.remove_prefix(std::min(after.size(), after.find_first_not_of(" \t\n")));
        if (after.empty() || (after[0] != '"' && after[0] != '\'')) return false;
        const std::size_t close = after.find(after[0], 1);
        if (close == std::string_view::npos) return false;
        value.assign(after.substr(1, close - 1));
        rest = after.substr(close + 1);
        return true;
    };
    std::string value;
    if (!pseudoAttribute("version", value) || value != "1.0") return false;
    standalone_ = -2;
    if (pseudoAttribute("encoding", value)) {
        if (!equalsIgnoringAsciiCase(value, "UTF-8") && !equalsIgnoringAsciiCase(value, "UTF8"))
            return false;
        encoding_ = value;
    }
    if (pseudoAttribute("standalone", value)) {
        if (value != "yes" && value != "no") return false;
        standalone_ = value == "yes" ? 1 : 0;
    }
    return rest.find_first_not_of(" \t\n") == std::string_view::npos;
}

bool SmallReplyReader::addChild(xmlNode* node) {
    if (node == nullptr) return false;
    xmlNode* parent = parent_ != nullptr ? parent_ : reinterpret_cast<xmlNode*>(doc_.get());
    if (xmlAddChild(parent, node) == nullptr) {
        xmlFreeNode(node);
        return false;
    }
    return true;
}

bool SmallReplyReader::instruction(std::string_view content, std::uint64_t end) {
    const std::size_t space = std::min(content.size(), content.find_first_of(" \t\n"));
    const std::string_view target = content.substr(0, space);
    std::string_view prefix, local;
    if (!splitName(target, prefix, local) || !prefix.empty() ||
        equalsIgnoringAsciiCase(target, "xml"))
        return false;
    std::string_view data = content.substr(space);
    const bool hasData = !data.empty();
    data.remove_prefix(std::min(data.size(), data.find_first_not_of(" \t\n")));
    scratch_.assign(target);
    const std::size_t dataAt = scratch_.size() + 1;
    scratch_.push_back('\0');
    scratch_.append(data);
    xmlNode* node = xmlNewDocPI(doc_.get(), BAD_CAST scratch_.c_str(),
                                hasData ? BAD_CAST scratch_.c_str() + dataAt : nullptr);
    if (node != nullptr) node->line = lineAt(end);
    return addChild(node);
}

bool SmallReplyReader::comment(std::string_view content, std::uint64_t end) {
    if (content.find("--") != std::string_view::npos || content.ends_with('-')) return false;
    scratch_.assign(content);
    xmlNode* node = xmlNewDocComment(doc_.get(), BAD_CAST scratch_.c_str());
    if (node != nullptr) node->line = lineAt(end);
    return addChild(node);
}

bool SmallReplyReader::text(std::string_view content) {
    if (parent_ == nullptr) return std::all_of(content.begin(), content.end(), isSpace);
    if (content.find("]]>") != std::string_view::npos) return false;
    if (pending_ && pendingType_ != XML_TEXT_NODE && !flushText()) return false;
    pending_ = true;
    pendingType_ = XML_TEXT_NODE;
    return appendDecoded(pendingText_, content, false);
}

// Adjacent sections make one node, as they do when libxml2 reads them.
bool SmallReplyReader::cdata(std::string_view content) {
    if (parent_ == nullptr) return false;
    if (pending_ && pendingType_ != XML_CDATA_SECTION_NODE && !flushText()) return false;
    pending_ = true;
    pendingType_ = XML_CDATA_SECTION_NODE;
    pendingText_.append(content);
    return true;
}

bool SmallReplyReader::flushText() {
    if (!pending_) return true;
    pending_ = false;
    const auto* data = reinterpret_cast<const xmlChar*>(pendingText_.data());
    const int length = static_cast<int>(pendingText_.size());
    xmlNode* node = pendingType_ == XML_TEXT_NODE ? xmlNewDocTextLen(doc_.get(), data, length)
                                                  : xmlNewCDataBlock(doc_.get(), data, length);
    pendingText_.clear();
    return addChild(node);
}

xmlNs* SmallReplyReader::bound(std::string_view prefix) const {
    for (const Binding& binding : std::views::reverse(bindings_))
        if (binding.prefix == prefix) return binding.ns;
    return nullptr;
}

bool SmallReplyReader::startTag(std::string_view content, std::uint64_t end) {
    if (rootDone_ || open_.size() >= limits_.maxDepth) return false;
    const bool empty = content.ends_with('/');
    if (empty) content.remove_suffix(1);
    std::size_t nameEnd = 0;
    while (nameEnd < content.size() && !isSpace(content[nameEnd])) ++nameEnd;
    const std::string_view qname = content.substr(0, nameEnd);
    std::string_view prefix, local;
    if (!splitName(qname, prefix, local) || prefix == "xml" || prefix == "xmlns" ||
        !readAttributes(content.substr(nameEnd)))
        return false;
    xmlNode* node = xmlNewDocNodeEatName(doc_.get(), nullptr, copyName(local), nullptr);
    if (node == nullptr) return false;
    node->line = lineAt(end);
    const std::size_t outer = bindings_.size();
    if (!addChild(node) || !declareNamespaces(node)) return false;
    xmlNs* ns = bound(prefix);
    if (!prefix.empty() && ns == nullptr) return false;
    xmlSetNs(node, ns);
    if (!addAttributes(node)) return false;
    if (empty) {
        bindings_.resize(outer);
        rootDone_ = parent_ == nullptr;
        return true;
    }
    open_.push_back(Open{qname, outer});
    parent_ = node;
    return true;
}

// Attributes separated by white space, each name="value" or name='value'.
bool SmallReplyReader::readAttributes(std::string_view rest) {
    attributes_.clear();
    while (true) {
        const std::size_t start = rest.find_first_not_of(" \t\n");
        if (start == std::string_view::npos) return true;
        if (start == 0) return false;
        rest.remove_prefix(start);
        const std::size_t eq = rest.find('=');
        if (eq == std::string_view::npos) return false;
        Attribute attribute;
        attribute.qname = rest.substr(0, eq);
        while (!attribute.qname.empty() && isSpace(attribute.qname.back()))
            attribute.qname.remove_suffix(1);
        if (!splitName(attribute.qname, attribute.prefix, attribute.local)) return false;
        rest.remove_prefix(eq + 1);
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t\n")));
        if (rest.empty() || (rest[0] != '"' && rest[0] != '\'')) return false;
        const std::size_t close = rest.find(rest[0], 1);
        if (close == std::string_view::npos) return false;
        attribute.raw = rest.substr(1, close - 1);
        if (attribute.raw.find('<') != std::string_view::npos) return false;
        for (const Attribute& other : attributes_)
            if (other.qname == attribute.qname) return false;
        attributes_.push_back(attribute);
        rest.remove_prefix(close + 1);
    }
}

// The element's namespace declarations, in their order, each with an absolute URI.
bool SmallReplyReader::declareNamespaces(xmlNode* node) {
    for (const Attribute& attribute : attributes_) {
        const bool isDefault = attribute.prefix.empty() && attribute.local == "xmlns";
        if (!isDefault && attribute.prefix != "xmlns") continue;
        const std::string_view prefix = isDefault ? std::string_view() : attribute.local;
        const std::string_view uri = attribute.raw;
        if (prefix == "xml" || prefix == "xmlns" || uri.empty() ||
            uri.find_first_of("&\t\n") != std::string_view::npos ||
            uri.find(':') == std::string_view::npos)
            return false;
        scratch_.assign(uri);
        const std::size_t prefixAt = scratch_.size() + 1;
        scratch_.push_back('\0');
        scratch_.append(prefix);
        xmlNs* ns = xmlNewNs(node, BAD_CAST scratch_.c_str(),
                             isDefault ? nullptr : BAD_CAST scratch_.c_str() + prefixAt);
        if (ns == nullptr) return false;
        bindings_.push_back(Binding{prefix, ns});
    }
    return true;
}

bool SmallReplyReader::addAttributes(xmlNode* node) {
    std::vector<std::pair<std::string_view, const xmlChar*>> seen;
    for (const Attribute& attribute : attributes_) {
        if (attribute.prefix == "xmlns" || (attribute.prefix.empty() && attribute.local == "xmlns"))
            continue;
        xmlNs* ns = nullptr;
        if (!attribute.prefix.empty()) {
            ns = bound(attribute.prefix);
            if (ns == nullptr || attribute.prefix == "xml") return false;
        }
        // The same name in the same namespace twice, under two prefixes.
        const xmlChar* uri = ns != nullptr ? ns->href : nullptr;
        for (const auto& [local, otherUri] : seen)
            if (local == attribute.local && otherUri != nullptr && xmlStrEqual(uri, otherUri))
                return false;
        seen.emplace_back(attribute.local, uri);
        scratch_.clear();
        if (!appendDecoded(scratch_, attribute.raw, true)) return false;
        xmlAttr* made =
            xmlNewNsPropEatName(node, ns, copyName(attribute.local), BAD_CAST scratch_.c_str());
        if (made == nullptr) return false;
        // A value read as it stands (no references, nothing normalised) is one text node on the
        // tag's line, as libxml2 makes it.
        if (made->children != nullptr &&
            attribute.raw.find_first_of("&\t\n") == std::string_view::npos)
            made->children->line = node->line;
    }
    return true;
}

bool SmallReplyReader::endTag(std::string_view content) {
    while (!content.empty() && isSpace(content.back())) content.remove_suffix(1);
    if (open_.empty() || open_.back().qname != content) return false;
    bindings_.resize(open_.back().bindings);
    open_.pop_back();
    parent_ = parent_->parent == reinterpret_cast<xmlNode*>(doc_.get()) ? nullptr : parent_->parent;
    rootDone_ = parent_ == nullptr;
    return true;
}

}  // namespace

std::optional<xml::Document> readSmallReply(std::string_view body, const ReplyLimits& limits) {
    if (limits.treeAllowance / kMostTreeBytesPerByte < body.size()) return std::nullopt;
    SmallReplyReader reader(body, limits);
    return reader.read();
}

}  // namespace ovk::soap
