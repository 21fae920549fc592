// SPDX-License-Identifier: MIT
// A download document goes through what the start-up does with it: the well-formedness load,
// the project type, validation against its schema and the configuration infos. None of them
// may crash, hang or expand an entity; failures are texts or errors, never more.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "document/config_infos.hpp"
#include "document/download_document.hpp"
#include "platform/errors.hpp"
#include "xml/document.hpp"

namespace {

const std::filesystem::path& documentPath() {
    static const std::filesystem::path path = [] {
        std::string folder = (std::filesystem::temp_directory_path() / "ovk-fuzz-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) std::abort();
        return std::filesystem::path(folder) / "download.xml";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = documentPath();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        std::abort();
    }
    try {
        (void)ovk::LoadDownloadDocument(path);
    } catch (const ovk::Error&) {
        return 0;
    }
    const std::string type = ovk::GetProjectType(path);
    if (type.size() > size) std::abort();  // no text longer than the file: nothing expanded
    for (const char* schema : {"TARVO", "MERIDO"}) {
        const std::string schemaPath = ovk::BuildSchemaFileName(schema, OVK_DATA_DIR);
        if (ovk::isErrorText(schemaPath)) std::abort();
        const auto document = ovk::ValidateDocument(schemaPath, path);
        if (document) (void)ovk::GetConfigInfos(document.get());
    }
    return 0;
}
