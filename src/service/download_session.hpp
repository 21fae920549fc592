#pragma once

#include "service/download_file_writer.hpp"
#include "service/record_files.hpp"

namespace ovk {

// What the download transactions of one Client keep between requests: where the download
// file's tail stands, and the line indexes of the symbol and GER files. Nothing in it changes
// what is written, only what it costs.
struct DownloadSession {
    DownloadFileWriter downloadFile;
    RecordFiles recordFiles;
};

}  // namespace ovk
