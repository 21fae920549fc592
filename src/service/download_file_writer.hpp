// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "service/released_texts.hpp"
#include "xml/document.hpp"

struct _xmlNode;

namespace ovk {

class DocumentStore;

// Keeps the download file equal to what a full save of the download document writes
// (xml::Document::save), after every item, at a cost in proportion to the item rather than
// to the whole document.
//
// A download only ever appends children to Project, so the file is a prefix, the children
// added since the last save, and a fixed tail (Project's end tag and whatever follows it).
// The first save is a full one, replacing the whole file; it remembers where the tail starts.
// Later saves write the new children and the tail over the old tail, in place. Whenever that
// is not safe to assume (another document, the file changed under us, Project's content
// changed otherwise) the save is a full one again. How either reaches the disk, and how a
// crash in the middle of one is undone, is the DocumentStore's business: a save is either
// whole in the file or, after a crash, undone by the next run; a save that fails is undone at
// once. A whole-file rewrite per item would need no journal, at a cost quadratic in the
// download's size.
//
// Once saved, the large CDATA texts of the items (see ReleasedTexts) are dropped from the
// document, which keeps where they stand in the file: memory stays in proportion to one item,
// not to the download. A full save reads them back from the file the last save wrote.
class DownloadFileWriter {
  public:
    // Forgets what was written: the next save is a full one. Call when the document changes
    // other than by appending children to Project.
    void reset();

    // Continues a download stopped earlier: the file held by `store` holds what `document` held
    // then, its tail starting at `tailOffset`, and the next saves append Project's new children
    // there. The articles saved before are in the file alone (the document holds them only as
    // loaded, with stand-ins for their payloads), so until reset() a save that cannot append
    // fails instead of writing the whole document. `earlier` are where the large texts of those
    // articles stand, as loading the document found them: Finish need not read them through.
    void resume(const std::shared_ptr<xml::Document>& document, xml::Node project,
                DocumentStore& store, off_t tailOffset,
                std::vector<CDataStandIns::Range> earlier = {});

    // Tells the download's plan that the file is as the last save left it, also for an article
    // that added nothing to it.
    void noteProgress(DocumentStore& store);

    // Makes the file held by `store` hold the serialization of `document`. `project` is the
    // element that items are appended to. Throws Error when the file cannot be written.
    void save(const std::shared_ptr<xml::Document>& document, xml::Node project,
              DocumentStore& store);

    // Streamed items (see StreamedItem): an item's bytes go into the file in place as its reply
    // arrives, from where the tail stands, and its large texts are released as they are
    // written; the item's nodes are appended to Project as a save expects them. Makes the
    // next save one that appends, saving the document whole now when it would not be; false
    // when no save can append (an empty Project) or the file changed under a continued
    // download. Throws Error when the document cannot be saved.
    bool prepareStream(const std::shared_ptr<xml::Document>& document, xml::Node project,
                       DocumentStore& store);
    // Where the streamed item's bytes start.
    off_t streamStart() const { return tailOffset_; }
    ReleasedTexts& releasedTexts() { return texts_; }
    // The item's bytes end at `end`: the tail follows them and the store commits, as a save
    // does; on a failure the file is put back and Error thrown.
    void finishStream(xml::Node project, DocumentStore& store, off_t end);
    // The item is given up (its nodes are gone from Project): the file is put back as the last
    // save left it.
    void abandonStream(DocumentStore& store) noexcept;

    // Where the texts released by the saves stand in the file held by `store`, while it is as
    // the last save left it (see ReleasedTexts::sections); none otherwise.
    std::vector<CDataStandIns::Range> savedSections(const DocumentStore& store) const;

    // How the last save went, for tests: true when it wrote only the new children.
    bool lastSaveWasIncremental() const { return lastIncremental_; }

  private:
    bool canAppend(const std::shared_ptr<xml::Document>& document, xml::Node project,
                   const DocumentStore& store) const;
    // reset() after a failed save: a continued download stays append-only.
    void forget();
    void saveFull(xml::Document& document, xml::Node project, DocumentStore& store);
    void saveAppended(xml::Document& document, xml::Node project, DocumentStore& store);
    // After a save that appended up to `end`: the state the next one starts from.
    void appended(xml::Node project, int fd, off_t end);
    void remember(const std::filesystem::path& path);
    bool unchangedSinceSave(const std::filesystem::path& path) const;
    void rememberLastText();

    std::weak_ptr<xml::Document> document_;
    _xmlNode* project_ = nullptr;
    _xmlNode* lastWritten_ = nullptr;  // Project's last child as of the last save
    std::string lastText_;             // its content then, when it is a text node
    std::string path_;
    std::string tail_;
    off_t tailOffset_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = -1;
    timespec modified_{};
    bool lastIncremental_ = false;
    bool appendOnly_ = false;
    std::vector<CDataStandIns::Range> earlier_;  // the texts of a resumed file's saved articles
    ReleasedTexts texts_;
    std::string releasedFrom_;  // the file the released texts stand in
};

}  // namespace ovk
