// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "xml/document.hpp"

namespace ovk {

// The eight texts read from a download document, indexed as the document's elements are:
// 0 URL, 1 ProjectID, 2 Language, 3 Password, 4 Proxy_IP, 5 Proxy_PORT, 6 Proxy_ID, 7 Proxy_PW.
// On failure text 0 holds an error text beginning with "Error".
using ConfigInfo = std::array<std::string, 8>;

namespace config {
inline constexpr std::size_t Url = 0, ProjectId = 1, Language = 2, Password = 3, ProxyIp = 4,
                             ProxyPort = 5, ProxyUser = 6, ProxyPassword = 7;
}

// Connection and project settings of a Client: the host's properties, overwritten by the
// download document's values during start-up.
struct ConnectionSettings {
    std::string serviceUrl{};
    std::string proxyIp{};
    int32_t proxyPort = 0;
    std::string proxyUserName{};
    std::string proxyPassword{};
    std::string projectId{};
    std::string projectLanguage{};
    std::string projectPassword{};
};

// Reads the settings from a validated document (or none). Never throws.
ConfigInfo GetConfigInfos(const xml::Document* document);

// Merges a successful reading over the settings: the document's URL always, its project values
// always, each proxy value only where the document has a usable one, in this order. Throws
// Error 6 when the proxy port does not fit a signed 32-bit number; what was merged before the
// port stays merged.
void MergeConfigInfo(const ConfigInfo& info, ConnectionSettings& settings);

}  // namespace ovk
