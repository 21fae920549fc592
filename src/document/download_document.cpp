// SPDX-License-Identifier: MIT
#include "document/download_document.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "document/validation_text.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "xml/cdata_stand_ins.hpp"
#include "xml/schema_validation.hpp"

namespace ovk {
namespace {

// The elements the start-up reads by name, the first of each anywhere in the document:
// GetProjectType's System and the settings GetConfigInfos reads. Their texts never stand in.
const std::vector<std::string> kReadByName = {"System",     "URL",      "ProjectID",
                                              "Language",   "Password", "Proxy_IP",
                                              "Proxy_PORT", "Proxy_ID", "Proxy_PW"};

}  // namespace

xml::Document LoadDownloadDocument(const std::filesystem::path& path,
                                   std::vector<CDataStandIns::Range>* itemSections) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw Error(err::FileNotFound, "File not found: " + path.string());
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw files::ioError("Cannot open", path, errno, err::FileNotFound);
    const files::Descriptor closeFile{fd};
    CDataStandIns standIns(fd, CDataStandIns::Scope::ProjectItems, kReadByName);
    try {
        xml::Document document =
            xml::Document::loadFileThrough(path, &CDataStandIns::read, &standIns);
        if (itemSections != nullptr) *itemSections = standIns.sections();
        return document;
    } catch (const xml::ParseError&) {
        // The parser only knows that its input failed; the stand-ins know why.
        if (standIns.error() != 0) throw files::ioError("Cannot read", path, standIns.error());
        throw;
    }
}

bool isErrorText(const std::string& text) {
    return startsWithIgnoringAsciiCase(text, "ERROR");
}

std::string GetProjectType(const std::filesystem::path& path) {
    try {
        const xml::Document doc = LoadDownloadDocument(path);
        return doc.firstElementByName("System").text();
    } catch (const Error&) {
        return {};  // a file that does not load has no System element
    } catch (...) {
        return "Error by Loading XML-File";
    }
}

std::string BuildSchemaFileName(const std::string& projectType,
                                const std::filesystem::path& folder) {
    try {
        const std::string name = projectType + "_download.xsd";
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
            // A project type is a name, never a path: nothing outside the component folder is read.
            return "Error Schema File not found";
        }
        const auto found = files::findCaseInsensitive(folder, name);
        if (!found) return "Error Schema File not found";
        return found->string();
    } catch (...) {
        return "Error Building Schema Name";
    }
}

std::string validationDetail(const xml::ParseFailure& failure) {
    return failure.reason + "\r\n" + "on Line: " + std::to_string(failure.line) +
           " Position: " + std::to_string(failure.position) + "\r\n" + failure.sourceLine;
}

std::shared_ptr<xml::Document> ValidateDocument(const std::filesystem::path& schemaPath,
                                                const std::filesystem::path& documentPath,
                                                std::vector<CDataStandIns::Range>* itemSections) {
    try {
        return std::make_shared<xml::Document>(xml::loadValidated(
            schemaPath, documentPath, [itemSections](const std::filesystem::path& path) {
                return LoadDownloadDocument(path, itemSections);
            }));
    } catch (const xml::ParseError& e) {
        setValidationText(validationDetail(e.failure));
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace ovk
