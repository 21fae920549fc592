#include "document/client_resources.hpp"

#include "document/resource_language_block.hpp"

#include "codec/write_base64_file.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/numbers.hpp"
#include "platform/xml/document.hpp"

namespace ovk {
namespace {

constexpr const char* kNewVersionFallback = "A newer Client-Version is avialble. Install it now ?";

}  // namespace

bool FileExistsInAppPath(const std::string& fileName) {
    return files::findCaseInsensitive(files::componentDir(), fileName).has_value();
}

bool IsGuiLanguageAvailable(int16_t languageId) {
    if (!FileExistsInAppPath(kResourceFileName)) return false;
    try {
        const auto resources = xml::Document::loadFile(files::inComponentDir(kResourceFileName));
        return static_cast<bool>(findResourceLanguageBlock(resources, std::to_string(languageId)));
    } catch (const Error&) {
        return false;
    }
}

int16_t GetNlsLanguageId(const std::string& languageName) {
    std::optional<xml::Document> languages;
    try {
        languages = xml::Document::loadFile(files::inComponentDir(kLanguageFileName));
    } catch (const Error&) {
        return 0;
    }
    // The name is compared as a value, not pasted into a query: a name with an apostrophe is
    // looked up like any other.
    for (const xml::Node& list : languages->elementsByName("Languages")) {
        for (const xml::Node& nls : list.childElements()) {
            if (nls.name() != "NLS" || nls.attribute("Language") != languageName) continue;
            // The identifier is the first attribute, whatever its name.
            return numbers::toInt16(nls.attributeAt(0).value_or(std::string()));
        }
    }
    return 0;
}

std::string GetNewVersionText(const std::string& languageIdText) {
    if (!FileExistsInAppPath(kResourceFileName)) return kNewVersionFallback;
    try {
        const auto resources = xml::Document::loadFile(files::inComponentDir(kResourceFileName));
        const xml::Node language = findResourceLanguageBlock(resources, languageIdText);
        for (const xml::Node& item : language.childElements()) {
            if (item.name() == "Item" && item.attribute("Name") == "lblNewVersion") {
                return item.attribute("Caption").value_or(std::string());
            }
        }
    } catch (const Error&) {
    }
    return kNewVersionFallback;
}

void SaveBannerImage(const xml::Node& clientData, const std::filesystem::path& downloadFile) {
    const xml::Node picture = clientData.firstChild();
    if (!picture || picture.kind() != xml::NodeKind::CData) {
        throw Error(err::TypeMismatch, "The client data carries no banner picture");
    }
    const auto folder = std::filesystem::absolute(downloadFile).parent_path();
    WriteBase64File(picture.text(), folder / kBannerFileName);
}

}  // namespace ovk
