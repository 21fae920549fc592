#include "component/soap_setup.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/numbers.hpp"
#include "platform/soap/call_trace.hpp"
#include "platform/text.hpp"

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

std::string formatTimeout(double timeout) {
    if (timeout == std::floor(timeout) && std::fabs(timeout) < 1e15) {
        return std::to_string(static_cast<long long>(timeout));
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
            return "Error by set TraceFile" + currentError().description;
        }

        if (!settings.serviceUrl.empty()) client.setProperty("EndPointURL", settings.serviceUrl);

        if (!settings.proxyIp.empty()) {
            client.setProperty("ProxyServer",
                               settings.proxyIp + ":" + std::to_string(settings.proxyPort));
            if (!client.faultCode().empty())
                return "Error by set ProxyIp/Port" + faultTexts(client);
        }

        if (!settings.proxyUserName.empty()) {
            client.setProperty("AuthUser", settings.proxyUserName);
            if (!client.faultCode().empty()) return "Error by set ProxyUser" + faultTexts(client);
            client.setProperty("AuthPassword", settings.proxyPassword);
            if (!client.faultCode().empty()) return "Error by set ProxyPwd" + faultTexts(client);
        }

        // A company authority that re-signs the traffic is trusted through the user's own
        // setting; a client without it keeps the system's store alone.
        const std::string caFile =
            store.read(kSettingsApplication, "Settings", kCaFileSetting).value_or("");
        if (!caFile.empty()) {
            try {
                client.setProperty("CAFile", caFile);
            } catch (...) {
                // Named after the other settings' failures, so that the user is not told the
                // service is unreachable when the file is what is wrong.
                return "Error by set CAFile" + faultTexts(client);
            }
            if (!client.faultCode().empty()) return "Error by set CAFile" + faultTexts(client);
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
