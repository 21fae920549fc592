#include "document/download_document.hpp"

#include <algorithm>
#include <cctype>

#include "document/validation_text.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "platform/xml/schema_validation.hpp"

namespace ovk {

bool isErrorText(const std::string& text) {
    return startsWithIgnoringAsciiCase(text, "ERROR");
}

std::string GetProjectType(const std::filesystem::path& path) {
    try {
        const xml::Document doc = xml::Document::loadFile(path);
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
                                                const std::filesystem::path& documentPath) {
    try {
        return std::make_shared<xml::Document>(xml::loadValidated(schemaPath, documentPath));
    } catch (const xml::ParseError& e) {
        setValidationText(validationDetail(e.failure));
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace ovk
