// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include "platform/platform_info.hpp"
#include "platform/settings_store.hpp"
#include "platform/shell.hpp"
#include "platform/timer.hpp"
#include "platform/user_interface.hpp"
#include "soap/service_client.hpp"

namespace ovk {

// Everything a Client needs from its surroundings. The shared library fills it with the desktop
// adapters; tests and batch hosts with their own.
struct ClientServices {
    std::shared_ptr<UserInterface> ui;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<Shell> shell;
    std::shared_ptr<PlatformInfo> platform;
    std::shared_ptr<TimerFactory> timers;
    std::function<std::shared_ptr<soap::ServiceClient>()> makeServiceClient;
};

// The services a default-constructed Client uses. The desktop layer registers a provider when
// it is linked in; without one, a Client gets a screenless user interface, settings in memory
// and the real shell.
using ClientServicesProvider = std::function<std::shared_ptr<const ClientServices>()>;
void setDefaultClientServicesProvider(ClientServicesProvider provider);
std::shared_ptr<const ClientServices> defaultClientServices();

// The parts every provider shares: the SOAP client and the xdg-open shell.
ClientServices baseClientServices();

}  // namespace ovk
