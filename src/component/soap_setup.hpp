#pragma once

#include <string>

#include "document/config_infos.hpp"
#include "platform/settings_store.hpp"
#include "platform/soap/service_client.hpp"

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

// Prepares a new service client from the component's service description and the merged
// connection settings, the user's trusted certificate authorities ("CAFile") and bound on
// requests in flight ("MaxRequestsInFlight"), and proves
// the service answers HelloWorld. "OK" on success, an error text otherwise; never throws.
// Always leaves the time-out setting written.
std::string SetupSoapClient(soap::ServiceClient& client, const ConnectionSettings& settings,
                            SettingsStore& store);

}  // namespace ovk
