// SPDX-License-Identifier: MIT
#include "component/soap_setup.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/numbers.hpp"
#include "platform/text.hpp"
#include "soap/call_trace.hpp"

namespace ovk {
namespace {

constexpr const char* kCrLf = "\r\n";

// The stored time-out: absent gives the minimum, a number at least the minimum, anything
// else 0 (which the service client treats as its default bound, never as "wait forever").
double readTimeout(const SettingsStore& store) {
    const auto stored = store.read(kSettingsApplication, "Settings", "SOAPTimeout");
    if (!stored) return kMinimumSoapTimeout;
    const auto number = numbers::parseNumber(*stored);
    if (!number) return 0;
    return std::max(*number, kMinimumSoapTimeout);
}

// The stored bound on requests in flight: a whole number from 1 up (larger ones are capped by
// the client); absent or anything else gives the default, as a mistyped value must not stop
// the component.
int readRequestsInFlight(const SettingsStore& store) {
    const auto stored = store.read(kSettingsApplication, "Settings", kMaxRequestsInFlightSetting);
    if (!stored) return kDefaultRequestsInFlight;
    const auto number = numbers::parseNumber(*stored);
    if (!number || *number < 1 || *number != std::floor(*number)) return kDefaultRequestsInFlight;
    return static_cast<int>(std::min(*number, 1000.0));
}

// The stored number of retries: a whole number from 0 up (larger ones are capped by the
// client); absent or anything else gives the default, for the same reason.
int readRetryAttempts(const SettingsStore& store) {
    const auto stored = store.read(kSettingsApplication, "Settings", kRetryAttemptsSetting);
    if (!stored) return kDefaultRetryAttempts;
    const auto number = numbers::parseNumber(*stored);
    if (!number || *number < 0 || *number != std::floor(*number)) return kDefaultRetryAttempts;
    return static_cast<int>(std::min(*number, 1000.0));
}

// Whole numbers in plain decimal digits however large, since the setting is read back as a
// decimal text; a fraction keeps what a double holds of it.
std::string formatTimeout(double timeout) {
    if (timeout == std::floor(timeout)) {
        char text[400];
        std::snprintf(text, sizeof text, "%.0f", timeout);
        return text;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", timeout);
    return text;
}

std::string faultTexts(const soap::ServiceClient& client) {
    return client.faultString() + kCrLf + client.faultCode() + kCrLf + client.faultActor();
}

// The trace the host or the user's settings ask for, with the secrets it must never show;
// nothing when none is asked for. Throws Error when the file cannot be written.
std::shared_ptr<soap::CallTrace> openTrace(const TraceRequest& request,
                                           const ConnectionSettings& settings,
                                           const SettingsStore& store) {
    const auto setting = [&](const char* key) {
        return store.read(kSettingsApplication, "Settings", key).value_or("");
    };
    const std::string file = request.file.empty() ? setting(kTraceFileSetting) : request.file;
    if (file.empty()) return nullptr;
    const bool bodies = request.withBodies || setting(kTraceBodiesSetting) == "1";
    auto trace = std::make_shared<soap::CallTrace>(file, bodies);
    for (const std::string* secret :
         {&settings.projectPassword, &settings.proxyPassword, &settings.proxyUserName})
        trace->addSecret(*secret);
    return trace;
}

}  // namespace

std::string SetupSoapClient(soap::ServiceClient& client, const ConnectionSettings& settings,
                            SettingsStore& store, const TraceRequest& trace) {
    try {
        const double timeout = readTimeout(store);
        store.write(kSettingsApplication, "Settings", "SOAPTimeout", formatTimeout(timeout));

        client.initialize(files::inComponentDir(kServiceDescriptionFileName));
        if (!client.faultCode().empty()) return "Error by load wsdl" + faultTexts(client);

        // Named after the other settings' failures: the file is what is wrong, not the service.
        try {
            client.setTrace(openTrace(trace, settings, store));
        } catch (...) {
            // The same three lines as every other setting's failure: what, number, where.
            const Error error = currentError();
            return "Error by set TraceFile" + error.description + kCrLf +
                   std::to_string(error.number) + kCrLf + error.source;
        }

        if (!settings.serviceUrl.empty()) client.setProperty("EndPointURL", settings.serviceUrl);

        // A value the client refuses is the setting's fault, not the service's: it is named
        // after the setting, with the client's fault texts, whether it is refused by a fault
        // code or by an error.
        const auto setOrExplain = [&client](const char* property, const soap::PropertyValue& value,
                                            const char* failure) -> std::optional<std::string> {
            try {
                client.setProperty(property, value);
            } catch (...) {
                return failure + faultTexts(client);
            }
            if (!client.faultCode().empty()) return failure + faultTexts(client);
            return std::nullopt;
        };

        if (!settings.proxyIp.empty()) {
            if (auto refused = setOrExplain(
                    "ProxyServer", settings.proxyIp + ":" + std::to_string(settings.proxyPort),
                    "Error by set ProxyIp/Port"))
                return *refused;
        }

        if (!settings.proxyUserName.empty()) {
            if (auto refused =
                    setOrExplain("AuthUser", settings.proxyUserName, "Error by set ProxyUser"))
                return *refused;
            if (auto refused =
                    setOrExplain("AuthPassword", settings.proxyPassword, "Error by set ProxyPwd"))
                return *refused;
        }

        // A company authority that re-signs the traffic is trusted through the user's own
        // setting; a client without it keeps the system's store alone.
        const std::string caFile =
            store.read(kSettingsApplication, "Settings", kCaFileSetting).value_or("");
        if (!caFile.empty()) {
            if (auto refused = setOrExplain("CAFile", caFile, "Error by set CAFile"))
                return *refused;
        }

        client.setProperty("Timeout", timeout);
        client.setMaxRequestsInFlight(readRequestsInFlight(store));
        client.setRetryAttempts(readRetryAttempts(store));

        const std::string answer = client.callText("HelloWorld", {});
        if (asciiUpper(answer) == "HELLO WORLD") return "OK";
        return "Error " + client.faultString();
    } catch (...) {
        const int systemError = errno;
        const Error error = currentError();
        if (error.number >= err::SoapFirst) {
            return "Error Kommunikationsfehler: kann Service nicht erreichen" +
                   client.faultString();
        }
        return "Error Std" + error.description + kCrLf + std::to_string(error.number) + kCrLf +
               std::to_string(systemError) + kCrLf + client.faultString();
    }
}

}  // namespace ovk
