// SPDX-License-Identifier: MIT
#include "document/config_infos.hpp"

#include <algorithm>

#include "platform/errors.hpp"
#include "platform/numbers.hpp"

namespace ovk {
namespace {

// A text's length as its writer counts it: in characters, not in the bytes of their UTF-8 form.
std::size_t characterCount(std::string_view text) {
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

ConfigInfo GetConfigInfos(const xml::Document* document) {
    ConfigInfo info;
    try {
        if (document == nullptr) {
            info[config::Url] = "Error Document not initialized";
            return info;
        }
        if (const xml::Node url = document->firstElementByName("URL")) {
            const std::string text = url.text();
            if (characterCount(text) < 8) {
                info[config::Url] = "Error No Service URL";
                return info;
            }
            info[config::Url] = text;
        }
        const xml::Node projectId = document->firstElementByName("ProjectID");
        if (!projectId) {
            info[config::Url] = "Error No Projekt ID";
            return info;
        }
        info[config::ProjectId] = projectId.text();
        const xml::Node language = document->firstElementByName("Language");
        if (!language) {
            info[config::Url] = "Error No Language";
            return info;
        }
        info[config::Language] = language.text();

        static constexpr std::pair<const char*, std::size_t> kOptional[] = {
            {"Password", config::Password},      {"Proxy_IP", config::ProxyIp},
            {"Proxy_PORT", config::ProxyPort},   {"Proxy_ID", config::ProxyUser},
            {"Proxy_PW", config::ProxyPassword},
        };
        for (const auto& [name, index] : kOptional) {
            if (const xml::Node node = document->firstElementByName(name))
                info[index] = node.text();
        }
    } catch (...) {
        info[config::Url] = "Error " + currentError().description;
    }
    return info;
}

void MergeConfigInfo(const ConfigInfo& info, ConnectionSettings& settings) {
    settings.serviceUrl = info[config::Url];
    settings.projectId = info[config::ProjectId];
    settings.projectLanguage = info[config::Language];
    settings.projectPassword = info[config::Password];
    if (!info[config::ProxyIp].empty()) settings.proxyIp = info[config::ProxyIp];
    if (const auto number = numbers::parseNumber(info[config::ProxyPort])) {
        settings.proxyPort = numbers::toInt32(*number);
    }
    if (!info[config::ProxyUser].empty()) settings.proxyUserName = info[config::ProxyUser];
    if (!info[config::ProxyPassword].empty()) settings.proxyPassword = info[config::ProxyPassword];
}

}  // namespace ovk
