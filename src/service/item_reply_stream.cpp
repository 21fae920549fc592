// SPDX-License-Identifier: MIT
#include "service/item_reply_stream.hpp"

#include <libxml/tree.h>

#include <array>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "service/document_store.hpp"
#include "service/released_texts.hpp"

namespace ovk {
namespace {

// Bytes gathered before they go to the file: few large writes rather than many small ones.
constexpr std::size_t kBlock = std::size_t{1} << 20;

// What a save escapes in text (xmlEscapeContent, as the document is written in UTF-8).
constexpr std::array<const char*, 256> kEscapes = [] {
    std::array<const char*, 256> escapes{};
    escapes['<'] = "&lt;";
    escapes['>'] = "&gt;";
    escapes['&'] = "&amp;";
    escapes['\r'] = "&#13;";
    return escapes;
}();

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string_view localName(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

const std::string* attributeValue(const std::vector<xml::ContentEvents::Attribute>& attributes,
                                  std::string_view name) {
    for (const auto& attribute : attributes)
        if (attribute.name == name) return &attribute.value;
    return nullptr;
}

}  // namespace

StreamedItem::StreamedItem(Target target) : target_(std::move(target)) {}

StreamedItem::~StreamedItem() {
    if (!finished_) discard();
}

void StreamedItem::begin(bool keepsWhiteSpace) {
    discard();
    xmlNode* project = target_.project.raw();
    lastBefore_ = project->last;
    lastTextBefore_.clear();
    if (lastBefore_ != nullptr && lastBefore_->type == XML_TEXT_NODE && lastBefore_->content)
        lastTextBefore_ = reinterpret_cast<const char*>(lastBefore_->content);
    offset_ = target_.writer.streamStart();
    begun_ = true;
    Frame& item = frames_.emplace_back();
    item.copy = target_.project;
    item.started = true;
    item.mayStrip = !keepsWhiteSpace;
    item.decision = keepsWhiteSpace ? Decision::Keep : Decision::Undecided;
}

void StreamedItem::restart() {
    discard();
}

void StreamedItem::discard() noexcept {
    section_.reset();
    largeSection_ = false;
    frames_.clear();  // temporary payload files go with their replacements
    actions_.clear();
    folder_.reset();
    out_.clear();
    inNode_ = large_ = false;
    content_.clear();
    if (!begun_) return;
    begun_ = false;
    xmlNode* project = target_.project.raw();
    while (project->last != nullptr && project->last != lastBefore_) {
        xmlNode* node = project->last;
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    }
    // Text the item began with was merged into the text that ended Project.
    if (lastBefore_ != nullptr && lastBefore_->type == XML_TEXT_NODE &&
        lastBefore_->content != nullptr &&
        std::string_view(reinterpret_cast<const char*>(lastBefore_->content)) != lastTextBefore_) {
        xmlNodeSetContentLen(lastBefore_, reinterpret_cast<const xmlChar*>(lastTextBefore_.data()),
                             static_cast<int>(lastTextBefore_.size()));
    }
    if (dirty_) target_.writer.abandonStream(target_.store);
    dirty_ = false;
}

off_t StreamedItem::position() const {
    return offset_ + static_cast<off_t>(out_.size());
}

void StreamedItem::flush() {
    if (out_.empty()) return;
    const int errnum = DocumentStore::writeAt(target_.store.appendDescriptor(), out_, offset_);
    if (errnum != 0) throw files::ioError("Cannot write", target_.store.file(), errnum);
    offset_ += static_cast<off_t>(out_.size());
    out_.clear();
}

void StreamedItem::write(std::string_view bytes) {
    dirty_ = true;
    if (out_.size() + bytes.size() < kBlock) {
        out_.append(bytes);
        return;
    }
    flush();
    if (bytes.size() < kBlock) {
        out_.append(bytes);
        return;
    }
    const int errnum = DocumentStore::writeAt(target_.store.appendDescriptor(), bytes, offset_);
    if (errnum != 0) throw files::ioError("Cannot write", target_.store.file(), errnum);
    offset_ += static_cast<off_t>(bytes.size());
}

void StreamedItem::writeText(std::string_view text) {
    std::size_t from = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char* escape = kEscapes[static_cast<unsigned char>(text[at])];
        if (escape == nullptr) continue;
        write(text.substr(from, at - from));
        write(escape);
        from = at + 1;
    }
    write(text.substr(from));
}

// As a save writes a section's text: "]]>" in it splits it in two.
void StreamedItem::writeSection(std::string_view content) {
    std::size_t start = 0;
    for (std::size_t at = content.find("]]>"); at != std::string_view::npos;
         at = content.find("]]>", at + 1)) {
        write("<![CDATA[");
        write(content.substr(start, at + 2 - start));
        write("]]>");
        start = at + 2;
    }
    if (start == content.size() && start != 0) return;
    write("<![CDATA[");
    write(content.substr(start));
    write("]]>");
}

void StreamedItem::settle() {
    largeSection_ = false;
    if (!section_) return;
    Node section = std::move(*section_);
    section_.reset();
    place(frames_.back(), std::move(section));
}

void StreamedItem::startSection() {
    if (largeSection_) throw NotStreamable{};
}

void StreamedItem::open(Frame& frame) {
    if (frame.started) return;
    write("<" + frame.name + ">");
    frame.started = true;
}

// White space among an element's children is dropped once it proves to have an element child,
// and kept when it ends without one; until then it is held, with what follows it.
void StreamedItem::decide(Frame& frame, Decision decision) {
    if (frame.decision != Decision::Undecided) return;
    frame.decision = decision;
    std::vector<Node> held = std::move(frame.held);
    frame.held.clear();
    frame.heldBytes = 0;
    for (const Node& node : held) {
        if (decision == Decision::Strip && node.blank) continue;
        append(frame, node);
    }
}

void StreamedItem::place(Frame& frame, Node node) {
    const bool holding =
        frame.decision == Decision::Undecided && (node.blank || !frame.held.empty());
    if (node.blank && frame.decision == Decision::Strip) return;
    if (!holding) return append(frame, node);
    frame.heldBytes += node.content.size();
    frame.held.push_back(std::move(node));
    if (frame.heldBytes > ReleasedTexts::kReleasedFrom) decide(frame, Decision::KeepForNow);
}

void StreamedItem::append(Frame& frame, const Node& node) {
    open(frame);
    xml::Document& document = *target_.document;
    if (node.kind == Data::Text) {
        writeText(node.content);
        frame.copy.appendChild(document.createText(node.content));
        return;
    }
    writeSection(node.content);
    frame.copy.appendChild(document.createCData(node.content));
}

// The node under way is too large to hold: it goes to the file as it comes.
void StreamedItem::large(Frame& frame) {
    if (kind_ == Data::CData && section_) throw NotStreamable{};
    if (!frame.held.empty()) decide(frame, Decision::KeepForNow);
    open(frame);
    large_ = true;
    if (kind_ == Data::CData) write("<![CDATA[");
    largeStart_ = position();
    if (kind_ == Data::Text) {
        writeText(content_);
    } else {
        write(content_);
    }
    if (frame.releases) std::string().swap(content_);
}

void StreamedItem::endLarge(Frame& frame) {
    const auto length = static_cast<std::uint64_t>(position() - largeStart_);
    if (kind_ == Data::CData) write("]]>");
    const std::string content = frame.releases ? target_.writer.releasedTexts().written(
                                                     largeStart_, length, kind_ == Data::CData)
                                               : std::move(content_);
    xml::Document& document = *target_.document;
    frame.copy.appendChild(kind_ == Data::Text ? document.createText(content)
                                               : document.createCData(content));
}

void StreamedItem::data(Data kind, std::string_view piece) {
    if (!inNode_) {
        if (kind == Data::Text) settle();
        if (kind == Data::CData) startSection();
    }
    Frame& frame = frames_.back();
    if (!inNode_) {
        inNode_ = true;
        kind_ = kind;
        content_.clear();
        blank_ = kind == Data::Text;
        large_ = false;
        payloadChild(frame, true);
    }
    payloadData(frame, piece);
    if (large_) {
        if (kind_ == Data::Text) {
            writeText(piece);
        } else {
            write(piece);
        }
        if (!frame.releases) content_.append(piece);
        return;
    }
    if (blank_ && !isBlank(piece)) blank_ = false;
    content_.append(piece);
    // A text of white space alone stays in memory: whether it is kept is decided later.
    if (!blank_ && content_.size() >= ReleasedTexts::kReleasedFrom) large(frame);
}

void StreamedItem::endData(Data kind) {
    if (!inNode_) startSection();
    Frame& frame = frames_.back();
    if (!inNode_) {  // an empty CDATA section
        inNode_ = true;
        kind_ = kind;
        content_.clear();
        blank_ = false;
        large_ = false;
        payloadChild(frame, true);
    }
    if (frame.role == Role::Record && !frame.payload->nodes.empty() && !frame.payload->runEnded)
        frame.payload->nodes.back().blank =
            kind_ == Data::Text && isBlank(frame.payload->nodes.back().content);
    if (large_) {
        endLarge(frame);
        largeSection_ = kind_ == Data::CData;
    } else if (kind_ == Data::CData && section_) {
        section_->content += content_;
    } else if (kind_ == Data::CData) {
        section_ = Node{kind_, std::move(content_), false};
    } else {
        place(frame, Node{kind_, std::move(content_), blank_});
    }
    content_.clear();
    inNode_ = large_ = false;
}

void StreamedItem::otherNode() {
    settle();
    payloadChild(frames_.back(), false);
}

void StreamedItem::startElement(std::string_view name, const std::vector<Attribute>& attributes) {
    settle();
    Frame& parent = frames_.back();
    payloadChild(parent, false);
    parent.hasElementChild = true;
    if (parent.decision == Decision::KeepForNow) throw NotStreamable{};
    decide(parent, parent.mayStrip ? Decision::Strip : Decision::Keep);
    open(parent);
    Frame frame;
    frame.name = std::string(localName(name));
    frame.copy = parent.copy.appendChild(target_.document->createElement(frame.name));
    const std::string* space = attributeValue(attributes, "xml:space");
    frame.mayStrip = parent.mayStrip && !(space != nullptr && *space == "preserve");
    frame.decision = frame.mayStrip ? Decision::Undecided : Decision::Keep;
    frame.releases = parent.releases ||
                     (frames_.size() == 1 && equalsIgnoringAsciiCase(frame.name, "Articleinfo"));
    startPayload(parent, frame, attributes);
    frames_.push_back(std::move(frame));
}

void StreamedItem::endElement() {
    settle();
    Frame& frame = frames_.back();
    decide(frame, Decision::Keep);
    write(frame.started ? "</" + frame.name + ">" : "<" + frame.name + "/>");
    endPayload(frame);
    frames_.pop_back();
}

void StreamedItem::finish() {
    if (frames_.size() != 1) throw Error(err::SoapMalformedReply, "The item ended unfinished");
    settle();
    decide(frames_.front(), Decision::Keep);
    flush();
    for (Action& action : actions_) {
        if (action.failure) {
            target_.failed(PayloadFailure{action.file, *action.failure});
            continue;
        }
        try {
            if (action.replacement) {
                action.replacement->commit(false);
            } else if (action.symbols) {
                target_.records.AppendSymbolRecord(action.recordFile, action.record);
            } else {
                target_.records.AppendGerRecord(action.recordFile, action.record);
            }
        } catch (...) {
            target_.failed(PayloadFailure{action.file, currentError()});
        }
    }
    actions_.clear();
    const off_t end = position();
    dirty_ = false;  // the writer puts the file back itself when the commit fails
    target_.writer.finishStream(target_.project, target_.store, end);
    finished_ = true;
}

void StreamedItem::startPayload(const Frame& parent, Frame& frame,
                                const std::vector<Attribute>& attributes) {
    const std::string kind = asciiUpper(frame.name);
    if (kind == "BINARY") {
        std::error_code ec;
        if (!std::filesystem::exists(target_.downloadFile, ec)) {
            Action action;
            action.failure =
                Error(err::FileNotFound, "File not found: " + target_.downloadFile.string());
            actions_.push_back(std::move(action));
            return;
        }
        frame.role = Role::Binary;
        symbolFile_ = GetSymbolFileName(target_.document.get());
        gerFile_ = GetGerFileName(target_.document.get());
        return;
    }
    switch (parent.role) {
        case Role::Binary:
            if (kind == "SYMBOLS" && !symbolFile_.empty()) frame.role = Role::Symbols;
            if (kind == "GERS" && !gerFile_.empty()) frame.role = Role::Gers;
            if (kind == "DOCUMENTS") frame.role = Role::Documents;
            return;
        case Role::Symbols:
        case Role::Gers:
            frame.role = Role::Record;
            frame.payload = std::make_unique<Payload>();
            frame.payload->file = parent.role == Role::Symbols ? symbolFile_ : gerFile_;
            return;
        case Role::Documents:
            return startDocument(frame, attributes);
        default:
            return;
    }
}

void StreamedItem::startDocument(Frame& frame, const std::vector<Attribute>& attributes) {
    frame.role = Role::Document;
    frame.payload = std::make_unique<Payload>();
    Payload& payload = *frame.payload;
    const std::string* name = attributeValue(attributes, "Name");
    if (name != nullptr) payload.file = *name;
    try {
        if (name == nullptr) throw Error(err::InvalidArgument, "A document payload has no Name");
        files::ConfinedFolder::checkPlainName(*name);
        if (!folder_) {
            const std::filesystem::path& file = target_.downloadFile;
            folder_ = std::make_unique<files::ConfinedFolder>(
                file.has_parent_path() ? file.parent_path() : std::filesystem::path("."));
            target_.records.journalPayloadsIn(*folder_, file);
        }
        payload.replacement = std::make_unique<files::ConfinedFolder::Replacement>(*folder_, *name);
        payload.sink = [&payload](std::string_view bytes) { payload.replacement->write(bytes); };
        payload.decoder = std::make_unique<Base64TextDecoder>(encoding_, payload.sink);
    } catch (...) {
        payload.failure = currentError();
        payload.replacement.reset();
    }
}

// A child of a payload element: only the data nodes it starts with are its data.
void StreamedItem::payloadChild(Frame& frame, bool isData) {
    if (!frame.payload) return;
    Payload& payload = *frame.payload;
    if (!payload.children) payload.firstIsData = isData;
    payload.children = true;
    if (!isData) payload.runEnded = true;
    if (isData && !payload.runEnded && frame.role == Role::Record)
        payload.nodes.push_back(Node{kind_, {}, false});
}

void StreamedItem::payloadData(Frame& frame, std::string_view piece) {
    if (!frame.payload || frame.payload->runEnded) return;
    Payload& payload = *frame.payload;
    if (frame.role == Role::Record) {
        payload.nodes.back().content.append(piece);
        return;
    }
    if (payload.failure) return;
    try {
        payload.decoder->feed(piece);
    } catch (...) {
        payload.failure = currentError();
        payload.decoder.reset();
        payload.replacement.reset();
    }
}

void StreamedItem::endPayload(Frame& frame) {
    if (!frame.payload) return;
    Payload& payload = *frame.payload;
    Action action;
    action.file = payload.file;
    action.failure = payload.failure;
    if (!action.failure && payload.children && !payload.firstIsData) {
        action.failure = Error(err::InvalidArgument,
                               "The payload element " + frame.name + " holds no character data");
    }
    if (frame.role == Role::Record && !payload.children) {
        action.failure =
            Error(err::ObjectMissing, "The payload element " + frame.name + " has no content");
    }
    if (!action.failure && frame.role == Role::Document) {
        try {
            payload.decoder->finish();
            action.replacement = std::move(payload.replacement);
        } catch (...) {
            action.failure = currentError();
        }
    } else if (!action.failure) {
        // As the reply reader gives a record: beside sections, blank text is layout.
        bool sections = false;
        for (const Node& node : payload.nodes) sections = sections || node.kind == Data::CData;
        for (const Node& node : payload.nodes)
            if (!sections || !node.blank) action.record += node.content;
        const std::filesystem::path& file = target_.downloadFile;
        action.recordFile =
            (file.has_parent_path() ? file.parent_path() : std::filesystem::path(".")) /
            payload.file;
        action.symbols = frames_[frames_.size() - 2].role == Role::Symbols;
    }
    actions_.push_back(std::move(action));
}

}  // namespace ovk
