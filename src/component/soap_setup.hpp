// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "document/config_infos.hpp"
#include "platform/settings_store.hpp"
#include "soap/service_client.hpp"

namespace ovk {

inline constexpr const char* kServiceDescriptionFileName = "VelmoraSvr.wsdl";
inline constexpr double kMinimumSoapTimeout = 180000;
// Per-user setting beside "SOAPTimeout": a PEM file of certificate authorities to trust besides
// the system's, for services behind a company authority.
inline constexpr const char* kCaFileSetting = "CAFile";
// Per-user setting beside "SOAPTimeout": how many item requests may be in flight at once while
// a download runs; 1 sends them one after the other.
inline constexpr const char* kMaxRequestsInFlightSetting = "MaxRequestsInFlight";
inline constexpr int kDefaultRequestsInFlight = 4;
// Per-user setting beside "SOAPTimeout": how many times a call that failed on the way (the
// network lost it, or the server answered 502, 503 or 504) is made again; 0 never.
inline constexpr const char* kRetryAttemptsSetting = "RetryAttempts";
inline constexpr int kDefaultRetryAttempts = 3;

// Per-user settings beside "SOAPTimeout": a file that every service call is traced to, for
// support, and whether the trace holds the request and reply bodies too ("1").
inline constexpr const char* kTraceFileSetting = "TraceFile";
inline constexpr const char* kTraceBodiesSetting = "TraceBodies";

// A trace the host asked for; an empty file leaves it to the per-user settings.
struct TraceRequest {
    std::string file;
    bool withBodies = false;
};

// Prepares a new service client from the component's service description and the merged
// connection settings, the user's trusted certificate authorities ("CAFile") and bound on
// requests in flight ("MaxRequestsInFlight"), its retries ("RetryAttempts"), and proves
// the service answers HelloWorld. "OK" on success, an error text otherwise; never throws.
// Always leaves the time-out setting written.
// A trace ("TraceFile", or the host's) starts before the first call, with every password and
// the proxy user among its secrets; a trace file that cannot be written fails the set-up with
// "Error by set TraceFile".
std::string SetupSoapClient(soap::ServiceClient& client, const ConnectionSettings& settings,
                            SettingsStore& store, const TraceRequest& trace = {});

}  // namespace ovk
