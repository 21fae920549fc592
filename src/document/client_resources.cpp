// SPDX-License-Identifier: MIT
#include "document/client_resources.hpp"

#include "document/resource_language_block.hpp"

#include <algorithm>
#include <fstream>
#include <vector>

#include "codec/base64_text.hpp"
#include "codec/encoding.hpp"
#include "codec/write_base64_file.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/numbers.hpp"
#include "xml/character_data.hpp"
#include "xml/document.hpp"

namespace ovk {
namespace {

constexpr const char* kNewVersionFallback = "A newer Client-Version is avialble. Install it now ?";

// Whether `file` holds exactly the picture `base64Text` decodes to.
bool holdsPicture(const std::filesystem::path& file, std::string_view base64Text) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return false;
    const Encoding encoding;
    std::string picture;
    DecodeBase64Text(base64Text, encoding, [&](const auto& produce) {
        picture.clear();
        produce([&](std::string_view bytes) { picture += bytes; });
    });
    if (picture.size() != size) return false;
    std::ifstream in(file, std::ios::binary);
    std::vector<char> stored(picture.size());
    if (!in.read(stored.data(), static_cast<std::streamsize>(stored.size()))) return false;
    return std::equal(stored.begin(), stored.end(), picture.begin());
}

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
    // Services send it in a CDATA section or, as most send binary data, as the element's text.
    const std::optional<std::string> picture = xml::characterData(clientData);
    if (!picture) throw Error(err::TypeMismatch, "The client data carries no banner picture");
    const auto banner = std::filesystem::absolute(downloadFile).parent_path() / kBannerFileName;
    // The picture seldom changes from one start-up to the next, and replacing it means
    // flushing it to disk, on a busy disk the slowest step of the whole start-up.
    if (holdsPicture(banner, *picture)) return;
    WriteBase64File(*picture, banner);
}

}  // namespace ovk
