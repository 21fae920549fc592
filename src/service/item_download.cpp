// SPDX-License-Identifier: MIT
// The item download: one request per marked article. The reply's content goes beneath
// Project, its payloads into files, and the download file is saved, so that a later failure
// leaves every item requested before it on disk. Failures here have no trap: they reach the
// wizard's Finish loop, which reports them.

#include "document/client_resources.hpp"
#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "service/binary_payloads.hpp"
#include "service/download_session.hpp"
#include "service/download_transactions.hpp"
#include "service/item_reply_stream.hpp"
#include "service/persistent_failure.hpp"
#include "service/service_records.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk {
namespace {

// A text or CDATA node's data where it lies: payloads run to megabytes, and copying them once
// into the document is enough.
std::string_view dataOf(const xml::Node& node) {
    const xmlChar* content = node.raw()->content;
    return content == nullptr ? std::string_view()
                              : std::string_view(reinterpret_cast<const char*>(content));
}

// Whether a text's own allocation can be handed to a node of another document: not when
// libxml2 keeps it inside the node itself or in the name dictionary, which the node's own
// document frees.
bool ownsItsText(const xmlNode* node) {
    const xmlChar* content = node->content;
    if (content == nullptr || content == reinterpret_cast<const xmlChar*>(&node->properties))
        return false;
    return node->doc == nullptr || node->doc->dict == nullptr ||
           !xmlDictOwns(node->doc->dict, content);
}

// The text of `source` as a new node of `target`. A text the reply no longer needs moves
// over instead of being copied: a payload's Base64 is the bulk of the reply, and a copy
// would hold it twice in memory until the reply is gone.
xml::Node textNode(xml::Document& target, const xml::Node& source, bool movable) {
    const bool cdata = source.kind() == xml::NodeKind::CData;
    xmlNode* from = source.raw();
    if (!movable || !ownsItsText(from))
        return cdata ? target.createCData(dataOf(source)) : target.createText(dataOf(source));
    xml::Node made = cdata ? target.createCData({}) : target.createText({});
    xmlNode* node = made.raw();
    xmlFree(node->content);
    node->content = from->content;
    from->content = nullptr;
    return made;
}

// What a reply's first node is, for a person: "an element Root", "the text \"abc\"".
std::string describeNode(const xml::Node& node) {
    switch (node.kind()) {
        case xml::NodeKind::Element:
            return "an element " + node.name();
        case xml::NodeKind::Text:
        case xml::NodeKind::CData: {
            constexpr std::size_t kShown = 40;
            const std::string text = node.text();
            return "the text \"" + text.substr(0, kShown) + (text.size() > kShown ? "…" : "") +
                   "\"";
        }
        default:
            return "no item";
    }
}

}  // namespace

DownloadSession& DownloadTransactions::download() {
    if (!downloadSession) downloadSession = std::make_shared<DownloadSession>();
    return *downloadSession;
}

std::vector<soap::Argument> DownloadTransactions::itemRequest(const std::string& MaterialId,
                                                              int16_t languageId) const {
    return {settings.projectPassword, settings.projectId, languageId, MaterialId};
}

void DownloadTransactions::ItemsToCome(const std::vector<std::string>& MaterialIds) {
    itemsDone = 0;
    itemsPlanned = static_cast<int32_t>(MaterialIds.size());
    if (!MySoapobject) return;
    MySoapobject->dropPrefetched();
    if (MaterialIds.empty()) return;
    // Announced in the loop's order: the service client fetches the next replies while this
    // side writes the current item, and hands each over only when its item is asked for. An
    // announcement that no longer matches its call (the language file changed meanwhile) is
    // simply not used.
    const int16_t languageId = GetNlsLanguageId(settings.projectLanguage);
    for (const std::string& id : MaterialIds)
        MySoapobject->prefetch("GetItemData", itemRequest(id, languageId));
}

void DownloadTransactions::DownloadItem(const std::string& MaterialId) {
    fetchItem(MaterialId);
    // Told only once the article is through, saved or reported: a host that shows the count
    // never runs ahead of the document.
    events.raiseDownloadProgress(++itemsDone, itemsPlanned);
}

void DownloadTransactions::fetchItem(const std::string& MaterialId) {
    if (lastItemsStandIn) {
        // Saved with this item, the stand-ins would replace the documents in the file.
        throw Error(err::InvalidArgument,
                    "An article cannot be downloaded before the structure: the download "
                    "document still holds the last download's articles.");
    }
    if (!MySoapobject) throw Error(err::ObjectMissing, "Object variable not set");
    ++downloadPosition;
    // The plan learns how far the download got with every article, also one that adds
    // nothing: a continued download starts after it.
    const auto planned = [&] {
        DownloadSession* session = downloadSession.get();
        if (session == nullptr || !session->holds(DownloadFile)) return;
        session->document->plan().reaching(downloadPosition);
        session->downloadFile.noteProgress(*session->document);
    };
    std::optional<xml::NodeList> reply;
    try {
        const auto request = itemRequest(MaterialId, GetNlsLanguageId(settings.projectLanguage));
        bool asked = false;
        if (streamItem(MaterialId, request, reply, asked)) return;
        if (!asked) reply = MySoapobject->call("GetItemData", request);
    } catch (const Error& e) {
        // A bare status line would not say which article is missing, nor that it was tried
        // again before the download gave up.
        const int attempts = MySoapobject->attemptsMade();
        if (attempts <= 1) throw;
        throw PersistentFailure(GUILangID, MaterialId, "GetItemData", attempts, e);
    }
    if (!reply) {
        // The loop goes on with the next article, but the host must not take a download that
        // lacks this one for a complete one.
        raiseException(err::ObjectMissing,
                       "The service sent nothing for article " + MaterialId +
                           ", so it is not in the download.",
                       "GetItemData");
        return planned();
    }
    if (!MyXMLDocument) throw Error(err::ObjectMissing, "Object variable not set");
    xml::Document& document = *MyXMLDocument;
    const xml::Node project = document.firstElementByName("Project");
    if (!project) throw Error(err::ObjectMissing, "The download document has no Project");

    const xml::Node first = reply->first();
    if (first.isElement() && first.localName() == "root") {
        // Texts may move out of a reply that nobody else holds: it is dropped after this item.
        // A reply still held elsewhere (a cached or scripted one) is copied from.
        movableReplyText = reply->owner().use_count() == 1;
        articleBeingCopied = MaterialId;
        struct Reset {
            DownloadTransactions& impl;
            ~Reset() {
                impl.movableReplyText = false;
                impl.articleBeingCopied.clear();
            }
        } const reset{*this};
        // Held before the records are appended: the document's journal covers them too.
        DownloadSession& session = download();
        DocumentStore& store = session.hold(DownloadFile);
        store.plan().reaching(downloadPosition);
        for (xml::Node child = first.firstChild(); child; child = child.nextSibling())
            AppendNodeCopy(document, project, child);
        session.downloadFile.save(MyXMLDocument, project, store);
    } else if (isExceptionRecord(first)) {
        const ServiceException record = readExceptionRecord(first);
        raiseException(record.number, record.description, record.source);
        planned();
    } else {
        // Like a reply with nothing in it: the loop goes on, and the host learns that this
        // article is missing and what came in its place.
        raiseException(err::ObjectMissing,
                       "The service sent " + describeNode(first) + " for article " + MaterialId +
                           " instead of its data, so it is not in the download.",
                       "GetItemData");
        planned();
    }
}

void DownloadTransactions::writePayloads(xml::Node binary) {
    const auto failed = [&](const PayloadFailure& failure) { payloadFailed(failure); };
    try {
        WriteBinaryPayloads(binary, MyXMLDocument.get(), DownloadFile, download().recordFiles,
                            failed);
    } catch (...) {
        failed(PayloadFailure{{}, currentError()});
    }
}

bool DownloadTransactions::streamItem(const std::string& MaterialId,
                                      const std::vector<soap::Argument>& request,
                                      std::optional<xml::NodeList>& reply, bool& asked) {
    if (!MyXMLDocument || !MySoapobject->readsItemsAsTheyArrive()) return false;
    const xml::Node project = MyXMLDocument->firstElementByName("Project");
    if (!project) return false;
    DownloadSession& session = download();
    DocumentStore& store = session.hold(DownloadFile);
    // Saved now if need be, while the plan still stands at the article before.
    if (!session.downloadFile.prepareStream(MyXMLDocument, project, store)) return false;
    articleBeingCopied = MaterialId;
    struct Reset {
        std::string& article;
        ~Reset() { article.clear(); }
    } const reset{articleBeingCopied};
    StreamedItem item({MyXMLDocument, project, session.downloadFile, store, DownloadFile,
                       session.recordFiles, [&](const PayloadFailure& f) { payloadFailed(f); }});
    soap::ItemReply result;
    try {
        result = MySoapobject->callItem("GetItemData", request, "root", item);
    } catch (const NotStreamable&) {
        return false;  // asked again, and read whole
    }
    asked = true;
    if (!result.streamed) {
        reply = std::move(result.nodes);
        return false;
    }
    store.plan().reaching(downloadPosition);
    item.finish();
    return true;
}

void DownloadTransactions::payloadFailed(const PayloadFailure& failure) {
    raiseException(failure.cause.number,
                   "The file \"" + failure.file + "\" of article " + articleBeingCopied +
                       " was not written: " + failure.cause.description,
                   "WriteBinaryPayloads");
}

// Every step runs under a trap that skips it: a node that cannot be made or appended is left
// out with everything beneath it, and a failing payload ends only the payload writer.
void DownloadTransactions::AppendNodeCopy(xml::Document& target, xml::Node parent,
                                          xml::Node source) {
    switch (source.kind()) {
        case xml::NodeKind::CData:
            skipOnError([&] { parent.appendChild(textNode(target, source, movableReplyText)); });
            return;
        case xml::NodeKind::Text: {
            xml::Node copy;
            skipOnError(
                [&] { copy = parent.appendChild(textNode(target, source, movableReplyText)); });
            if (!copy) return;
            for (xml::Node child = source.firstChild(); child; child = child.nextSibling())
                AppendNodeCopy(target, copy, child);
            return;
        }
        case xml::NodeKind::Element: {
            if (asciiUpper(source.localName()) == "BINARY") writePayloads(source);
            xml::Node copy;
            skipOnError(
                [&] { copy = parent.appendChild(target.createElement(source.localName())); });
            if (!copy) return;
            for (xml::Node child = source.firstChild(); child; child = child.nextSibling())
                AppendNodeCopy(target, copy, child);
            return;
        }
        default:
            return;  // comments, processing instructions and the like are not copied
    }
}

}  // namespace ovk
