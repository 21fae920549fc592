// SPDX-License-Identifier: MIT
// The download transactions of one Client: the structure request, one item request per
// article, Finish, and a download's plan with continuing it. The Client owns them and forwards
// the wizard's events to them; they read the Client's state through references, since Init
// replaces the document and the service client between downloads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/config_infos.hpp"
#include "service/binary_payloads.hpp"
#include "service/download_plan.hpp"
#include "soap/service_client.hpp"
#include "xml/cdata_stand_ins.hpp"
#include "xml/document.hpp"

namespace ovk {

struct DownloadSession;

// What the transactions tell the host, through the Client's events.
class DownloadEvents {
  public:
    virtual void raiseException(int32_t number, const std::string& message,
                                const std::string& source) = 0;
    virtual void raiseDownloadProgress(int32_t done, int32_t total) = 0;
    virtual void raiseDownloadComplete() = 0;

  protected:
    ~DownloadEvents() = default;
};

// The Client's state the transactions work on. Every member refers to the Client's own, which
// outlives the transactions.
struct DownloadContext {
    const std::string& downloadFile;
    // Replaced by Init, and by a continued download that must read the file again.
    std::shared_ptr<xml::Document>& document;
    const ConnectionSettings& settings;
    const std::shared_ptr<soap::ServiceClient>& service;
    const int16_t& guiLanguage;  // the language of texts made for the user
    DownloadEvents& events;
};

class DownloadTransactions {
  public:
    explicit DownloadTransactions(const DownloadContext& context);

    // The first request of a Finish: the project's structure and default selection. Its
    // failures are reported as Exceptions; only a document another download holds throws.
    void DownloadStructure();
    // The articles the loop is about to request, in order, so that their replies are fetched
    // ahead; an empty list drops what was fetched ahead.
    void ItemsToCome(const std::vector<std::string>& MaterialIds);
    // One article's request, saved to the download file before it returns. Throws what ends
    // the download.
    void DownloadItem(const std::string& MaterialId);
    // The last request: the download file in its final form, then DownloadComplete.
    void Finish();
    // A new download's plan, written beside the document.
    void PlanDownload(const std::vector<std::string>& MaterialIds);

    // The download the document holds that stopped before its end, if any (the document is
    // taken, and repaired, to tell; with `keep` it stays held, for continuing it). Throws
    // DocumentInUse when another download holds it.
    std::optional<DownloadPlan::State> unfinishedDownload(bool keep = false);
    // Prepares to continue that download after its saved articles; a download that saved none
    // starts over and needs nothing of this.
    void resumeDownload(const DownloadPlan::State& state);

    // What the transactions keep between requests; nullptr before the first of them.
    DownloadSession* session() const { return downloadSession.get(); }
    // Lets other downloads have the document; what was saved is on disk first.
    void release();

    // The file's device, inode, size and modification time, links followed; empty when it
    // cannot be read.
    static std::string fileIdentity(const std::filesystem::path& path);

    // Set by Init when it loads the document. The document holds the last download's items as
    // Init loaded them, their payloads standing in for the file's (LoadDownloadDocument): it
    // must not be saved before DownloadStructure has removed them.
    bool lastItemsStandIn = false;
    // Where the large texts of the document's items stood in the file when Init loaded it, and
    // the file's identity then: a download continued on that file tells Finish, which then
    // copies them without reading them through.
    struct LoadedItems {
        std::vector<CDataStandIns::Range> sections;
        std::string file;  // fileIdentity() of the document
    } loadedItems;

  private:
    DownloadSession& download();
    // The item request behind DownloadItem.
    void fetchItem(const std::string& MaterialId);
    // Reads the item as its reply arrives, straight into the download file and its payload
    // files, when the service client and the document allow it: true once it is saved.
    // Otherwise `asked` tells whether the service was asked, and `reply` holds its answer.
    bool streamItem(const std::string& MaterialId, const std::vector<soap::Argument>& request,
                    std::optional<xml::NodeList>& reply, bool& asked);
    // Reports a payload of the article being copied that was not written.
    void payloadFailed(const PayloadFailure& failure);
    // The arguments of an item's request, the same whether it is fetched ahead or not.
    std::vector<soap::Argument> itemRequest(const std::string& MaterialId,
                                            int16_t languageId) const;
    // Copies a node of an item reply beneath `parent`, skipping whatever fails to copy.
    void AppendNodeCopy(xml::Document& target, xml::Node parent, xml::Node source);
    // Writes the payloads of a Binary element into their files; each one not written is
    // reported, naming its file and the article, and the copy goes on.
    void writePayloads(xml::Node binary);
    void raiseException(int32_t number, const std::string& message, const std::string& source) {
        events.raiseException(number, message, source);
    }

    const std::string& DownloadFile;
    std::shared_ptr<xml::Document>& MyXMLDocument;
    const ConnectionSettings& settings;
    const std::shared_ptr<soap::ServiceClient>& MySoapobject;
    const int16_t& GUILangID;
    DownloadEvents& events;

    // Made by the first transaction.
    std::shared_ptr<DownloadSession> downloadSession;
    // The article the item download is at, counted from 1 over the whole plan.
    std::uint64_t downloadPosition = 0;
    // How far the running download has got, for DownloadProgress.
    int32_t itemsDone = 0;
    int32_t itemsPlanned = 0;
    // The item reply being copied is held by nobody else, so its texts may move rather than
    // be copied.
    bool movableReplyText = false;
    // The article whose reply is being copied, named when one of its payloads is not written.
    std::string articleBeingCopied;
};

}  // namespace ovk
