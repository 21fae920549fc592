// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>

#include "service/document_store.hpp"
#include "service/download_file_writer.hpp"
#include "service/record_files.hpp"

namespace ovk {

// What the download transactions of one Client keep between requests: the download document,
// held against other downloads from the structure request to the end of Finish; where the
// download file's tail stands; the line indexes of the symbol and GER files. Apart from the
// holding, nothing in it changes what is written, only what it costs.
struct DownloadSession {
    std::unique_ptr<DocumentStore> document;
    DownloadFileWriter downloadFile;
    RecordFiles recordFiles;

    // The document at `path`, taken now unless this session already holds it. Throws
    // DocumentInUse when another download holds it.
    DocumentStore& hold(const std::filesystem::path& path) {
        if (!holds(path)) {
            release();
            document = std::make_unique<DocumentStore>(path);
            recordFiles.journalWith(document.get());
        }
        return *document;
    }
    bool holds(const std::filesystem::path& path) const {
        return document && document->path() == path;
    }
    // Lets other downloads have the document; what was saved is on disk first.
    void release() {
        downloadFile.reset();
        recordFiles.journalWith(nullptr);
        document.reset();
    }
};

}  // namespace ovk
