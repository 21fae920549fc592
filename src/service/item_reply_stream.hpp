// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/base64_stream.hpp"
#include "platform/confined_folder.hpp"
#include "service/binary_payloads.hpp"
#include "service/download_file_writer.hpp"
#include "service/record_files.hpp"
#include "soap/service_client.hpp"

namespace ovk {

class DocumentStore;

// The item's reply has a shape that only a whole read gives right (an element after a large
// text that made its parent's white space count): it is to be read whole.
struct NotStreamable {};

// An item read as its reply arrives (ServiceClient::callItem), so that its size costs no
// memory. What it does is what copying a whole reply's item and saving it does, byte for byte:
//  - its nodes are appended to Project as the copy appends them (elements by local name, text
//    and CDATA, comments and instructions left out, white space between elements dropped as
//    the reply reader drops it), and their bytes are written into the download file in place,
//    from where its tail stands, as a save writes them;
//  - large texts of Articleinfo items (ReleasedTexts) are written and released as they come;
//  - payloads (BINARY's SYMBOLS, GERS and DOCUMENTS) are decoded straight into temporary
//    files, and their records gathered.
// finish(), once the whole reply is read and checked, puts the payload files into place,
// appends the records, reports the payloads that failed, and commits the item. Until then,
// and when the call starts over or fails, nothing of it stays: no node, no payload file, the
// download file as the last save left it.
class StreamedItem final : public soap::ItemReceiver {
  public:
    struct Target {
        std::shared_ptr<xml::Document> document;
        xml::Node project;
        DownloadFileWriter& writer;
        DocumentStore& store;
        std::filesystem::path downloadFile;
        RecordFiles& records;
        PayloadFailures failed;
    };

    // The writer must have been prepared (DownloadFileWriter::prepareStream).
    explicit StreamedItem(Target target);
    ~StreamedItem() override;
    StreamedItem(const StreamedItem&) = delete;
    StreamedItem& operator=(const StreamedItem&) = delete;

    void begin(bool keepsWhiteSpace) override;
    void restart() override;
    void startElement(std::string_view name, const std::vector<Attribute>& attributes) override;
    void endElement() override;
    void data(Data kind, std::string_view piece) override;
    void endData(Data kind) override;
    void otherNode() override;

    // The reply is read whole and checked: the item goes into the file for good. Throws Error
    // when it cannot be saved; nothing of it stays then.
    void finish();

  private:
    enum class Role { None, Binary, Symbols, Gers, Documents, Record, Document };
    enum class Decision { Undecided, Strip, Keep, KeepForNow };
    struct Node {
        Data kind;
        std::string content;
        bool blank;
    };
    // What a payload element's content comes to: its data nodes, as far as they run.
    struct Payload {
        std::string file;
        std::vector<Node> nodes;                                          // a record's
        std::unique_ptr<files::ConfinedFolder::Replacement> replacement;  // a document's
        Base64TextDecoder::Sink sink;
        std::unique_ptr<Base64TextDecoder> decoder;
        std::optional<Error> failure;
        bool children = false;
        bool runEnded = false;
        bool firstIsData = false;
    };
    struct Frame {
        xml::Node copy;
        std::string name;
        bool started = false;  // its start tag is written
        bool mayStrip = false;
        bool hasElementChild = false;
        bool releases = false;  // inside an Articleinfo item
        Decision decision = Decision::Undecided;
        std::vector<Node> held;
        std::size_t heldBytes = 0;
        Role role = Role::None;
        std::unique_ptr<Payload> payload;
    };
    // One action of finish(), in the order of the payloads.
    struct Action {
        std::string file;
        std::optional<Error> failure;
        std::unique_ptr<files::ConfinedFolder::Replacement> replacement;
        std::filesystem::path recordFile;
        bool symbols = false;
        std::string record;
    };

    void write(std::string_view bytes);
    void writeText(std::string_view text);
    void writeSection(std::string_view content);
    // Places the section that may still be joined by the next one.
    void settle();
    void startSection();
    void flush();
    off_t position() const;
    void open(Frame& frame);
    void decide(Frame& frame, Decision decision);
    void place(Frame& frame, Node node);
    void append(Frame& frame, const Node& node);
    void large(Frame& frame);
    void endLarge(Frame& frame);
    void payloadChild(Frame& frame, bool isData);
    void payloadData(Frame& frame, std::string_view piece);
    void startPayload(const Frame& parent, Frame& frame, const std::vector<Attribute>& attributes);
    void startDocument(Frame& frame, const std::vector<Attribute>& attributes);
    void endPayload(Frame& frame);
    void discard() noexcept;

    Target target_;
    Encoding encoding_;
    std::vector<Frame> frames_;
    std::vector<Action> actions_;
    std::unique_ptr<files::ConfinedFolder> folder_;
    std::string symbolFile_;
    std::string gerFile_;
    _xmlNode* lastBefore_ = nullptr;  // Project's last child before the item
    std::string lastTextBefore_;      // its text then, when it is a text node
    std::string out_;
    off_t offset_ = 0;  // where out_ starts in the file
    // Adjacent sections make one node, as the reply reader makes them: the last one, small,
    // waits for the next event; a large one cannot be joined in place.
    std::optional<Node> section_;
    bool largeSection_ = false;
    // The node under way.
    bool inNode_ = false;
    Data kind_ = Data::Text;
    std::string content_;
    bool blank_ = true;
    bool large_ = false;
    off_t largeStart_ = 0;
    std::uint64_t largeLength_ = 0;
    bool begun_ = false;
    bool dirty_ = false;
    bool finished_ = false;
};

}  // namespace ovk
