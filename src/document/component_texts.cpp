// SPDX-License-Identifier: MIT
#include "document/component_texts.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "document/client_resources.hpp"
#include "document/resource_items.hpp"
#include "platform/files.hpp"

namespace ovk {
namespace {

// The English form of each text, as the code that makes it writes it, with %1, %2, ... for
// the parts that vary. The resource file's Items of the same names give the other languages.
using Template = ComponentTextTemplate;
constexpr Template kTemplates[] = {
    {"msgItemNothingSent",
     "The service sent nothing for article %1, so it is not in the download."},
    {"msgItemWrongReply",
     "The service sent %2 for article %1 instead of its data, so it is not in the download."},
    {"msgPayloadNotWritten", "The file \"%2\" of article %1 was not written: %3"},
    {"msgPayloadNoContent", "The payload element %1 has no content"},
    {"msgPayloadNoData", "The payload element %1 holds no character data"},
    {"msgPayloadNoName", "A document payload has no Name"},
    {"msgBase64Foreign",
     "The Base64 text holds %1 at offset %2, which is neither a Base64 digit nor white space"},
    {"msgCharacterCode", "the character code %1"},
    {"msgAnElement", "an element %1"},
    {"msgTheText", "the text %1"},
    {"msgNoItem", "no item"},
    {"msgNameRefused", "Refused to write the file \"%1\": %2; nothing was written"},
    {"msgNameEmpty", "the name is empty"},
    {"msgNameFolder", "the name is a folder reference"},
    {"msgNameSeparator", "the name holds a path separator"},
    {"msgNameControl", "the name holds a control character"},
    {"msgDocumentInUse",
     "The download file %1 is in use by another download. Wait until it has finished, then try "
     "again."},
    {"msgCannotCreateBeside", "Cannot create a temporary file beside %1: %2"},
    {"msgCannotCreateLock", "Cannot create the lock file %1: %2"},
    {"msgCannotWrite", "Cannot write %1: %2"},
    {"msgCannotOpen", "Cannot open %1: %2"},
    {"msgTraceFile", "The trace file %1 cannot be written: %2"},
    {"msgTreeTooLarge", "The structure tree is too large to show: %1"},
    {"msgListTooLarge", "The article list is too large to show: %1"},
    {"msgReplyTooLarge", "The reply is larger than the limit of %1 bytes"},
    {"msgReplyInflated",
     "The reply inflated from %1 bytes to more than %2 bytes, more than %3 times its compressed "
     "size"},
    {"msgReplyIncomplete", "The reply is incomplete: %1"},
    {"msgReplyNotWellFormedWhy", "The reply is not well-formed XML: %1"},
    {"msgReplyNotWellFormed", "The reply is not well-formed XML"},
    {"msgReplyNotEnvelope", "The reply is not a SOAP 1.1 envelope"},
    {"msgReplyEmpty", "The reply is empty"},
    {"msgHttpStatus", "HTTP status %1"},
    {"msgProxyRefused", "%1: the proxy refused the credentials"},
    {"msgCredentialsRefused", "%1: the service or the proxy refused the credentials"},
    {"msgTlsUntrusted",
     "The service's certificate is not trusted: it was not issued by a certificate authority this "
     "computer trusts. A company certificate authority is trusted by naming its certificate file "
     "in the setting CAFile or in the variable SSL_CERT_FILE.%1"},
    {"msgTlsExpired",
     "The service's certificate (or that of its issuer) has expired; the service's operator must "
     "renew it.%1"},
    {"msgTlsNotYetValid",
     "The service's certificate is not valid yet; check this computer's date and time.%1"},
    {"msgTlsHostName",
     "The service's certificate was issued for another host name than the one in the service's "
     "address: the address may be wrong, or another server answers in the service's place.%1"},
    {"msgTlsRefused", "The service's certificate was refused: %1"},
    {"msgTlsNoTls",
     "The service does not speak TLS: it did not answer the secure (https://) connection. Its "
     "address may have to start with http:// instead.%1"},
    {"msgTlsSetup", "The secure connection to the service could not be set up.%1"},
    {"msgTlsStore", "The certificate authorities this computer trusts cannot be read.%1"},
    {"msgTlsPlainAnswer",
     "The service closed the connection without an answer. If it speaks only TLS, its address must "
     "start with https://.%1"},
    {"msgCaFileFolder", "The certificate file %1 named by %2 is a folder, not a file"},
    {"msgCaFileUnreadable", "The certificate file %1 named by %2 cannot be read: %3"},
    {"msgCaFileBroken", "The certificate file %1 named by %2 holds a broken certificate: %3"},
    {"msgCaFileEmpty",
     "The certificate file %1 named by %2 holds no certificate; it must hold one or more PEM "
     "blocks \"-----BEGIN CERTIFICATE-----\""},
    {"msgSettingNamed", "the setting %1"},
    {"msgVariableNamed", "the variable %1"},
    {"msgContinueNeedsInit",
     "ContinueDownload needs a successful Init: call Init with the download document first."},
    {"msgNothingToContinue", "The download file %1 holds no unfinished download to continue."},
    {"msgContinuedFileChanged",
     "The download file %1 changed while the download was continued, or an article could not be "
     "saved. Stop the download and continue it again."},
};

// Starts of lines that the component has always shown word for word; what follows them is
// translated.
constexpr std::string_view kFixedStarts[] = {
    "Error by set TraceFile",
    "Error by set CAFile",
    "Error by set ProxyIp/Port",
    "Error by set ProxyUser",
    "Error by set ProxyPwd",
    "Error by load wsdl",
    "Error Kommunikationsfehler: kann Service nicht erreichen",
    "Error Std",
    "Error ",
};

// Matches `text` against a template; its variable parts by number (part n at n - 1) on
// success. A part takes the shortest text that lets the next literal follow; the last literal
// ends the text.
std::optional<std::vector<std::string>> match(std::string_view pattern, std::string_view text) {
    std::vector<std::string> parts(9);
    std::size_t at = 0;
    while (true) {
        const std::size_t mark = pattern.find('%');
        const std::string_view literal = pattern.substr(0, mark);
        if (mark == std::string_view::npos) {
            if (text.substr(at) != literal) return std::nullopt;
            return parts;
        }
        if (text.substr(at, literal.size()) != literal) return std::nullopt;
        at += literal.size();
        const auto number = static_cast<std::size_t>(pattern[mark + 1] - '1');
        pattern.remove_prefix(mark + 2);
        const std::size_t nextMark = pattern.find('%');
        const std::string_view next = pattern.substr(0, nextMark);
        std::size_t end;
        if (nextMark == std::string_view::npos) {
            if (text.size() < at + next.size() || !text.ends_with(next)) return std::nullopt;
            end = text.size() - next.size();
        } else {
            end = text.find(next, at);
            if (end == std::string_view::npos) return std::nullopt;
        }
        if (number < parts.size()) parts[number] = std::string(text.substr(at, end - at));
        at = end;
    }
}

// The language's captions of the texts above, read once per language and resource file.
const std::map<std::string, std::string>& captions(int16_t languageId) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, int16_t>, std::map<std::string, std::string>> cache;
    std::lock_guard lock(mutex);
    const std::filesystem::path path = files::inComponentDir(kResourceFileName);
    std::error_code ec;
    // A changed file is read again.
    const auto stamp = std::filesystem::last_write_time(path, ec).time_since_epoch().count();
    auto [entry, fresh] =
        cache.try_emplace({path.string() + "@" + std::to_string(stamp), languageId});
    if (fresh) {
        for (const ResourceItem& item :
             LoadResourceItems(std::to_string(languageId)).value_or(std::vector<ResourceItem>{})) {
            if (item.caption && item.name.starts_with("msg"))
                entry->second.emplace(item.name, *item.caption);
        }
    }
    return entry->second;
}

std::string localizedLine(std::string_view line, const std::map<std::string, std::string>& in,
                          int depth) {
    if (depth > 4) return std::string(line);
    for (const std::string_view start : kFixedStarts) {
        if (line.starts_with(start) && line.size() > start.size())
            return std::string(start) + localizedLine(line.substr(start.size()), in, depth + 1);
    }
    // Where several texts fit, the one with the most words of its own says it best: "HTTP
    // status %1" also fits the line "HTTP status 407: the proxy refused the credentials".
    const Template* best = nullptr;
    std::vector<std::string> bestParts;
    std::size_t bestLiteral = 0;
    for (const Template& t : kTemplates) {
        if (!in.contains(t.name)) continue;
        auto parts = match(t.english, line);
        if (!parts) continue;
        const std::string_view english = t.english;
        const std::size_t literal =
            english.size() - 2 * static_cast<std::size_t>(std::ranges::count(english, '%'));
        if (best == nullptr || literal > bestLiteral) {
            best = &t;
            bestParts = std::move(*parts);
            bestLiteral = literal;
        }
    }
    if (best != nullptr) {
        std::string out;
        const std::string& form = in.at(best->name);
        for (std::size_t i = 0; i < form.size(); ++i) {
            if (form[i] == '%' && i + 1 < form.size() && form[i + 1] >= '1' && form[i + 1] <= '9') {
                out += localizedLine(bestParts[static_cast<std::size_t>(form[i + 1] - '1')], in,
                                     depth + 1);
                ++i;
            } else {
                out += form[i];
            }
        }
        return out;
    }
    return std::string(line);
}

}  // namespace

std::span<const ComponentTextTemplate> ComponentTextTemplates() {
    return kTemplates;
}

std::string LocalizedText(const std::string& text, int16_t languageId) {
    if (text.empty()) return text;
    const auto& in = captions(languageId);
    if (in.empty()) return text;
    std::string out;
    std::size_t from = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", from);
        out += localizedLine(std::string_view(text).substr(from, end - from), in, 0);
        if (end == std::string::npos) return out;
        out += "\r\n";
        from = end + 2;
    }
}

}  // namespace ovk
