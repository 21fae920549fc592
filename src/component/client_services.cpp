// SPDX-License-Identifier: MIT
#include "component/client_services.hpp"

#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#include "soap/soap_client.hpp"

namespace ovk {
namespace {

ClientServicesProvider& provider() {
    static ClientServicesProvider instance;
    return instance;
}

}  // namespace

void setDefaultClientServicesProvider(ClientServicesProvider newProvider) {
    provider() = std::move(newProvider);
}

ClientServices baseClientServices() {
    ClientServices services;
    services.shell = std::make_shared<XdgOpenShell>();
    services.platform = std::make_shared<LinuxPlatformInfo>();
    services.makeServiceClient = [] { return std::make_shared<soap::SoapClient>(); };
    return services;
}

std::shared_ptr<const ClientServices> defaultClientServices() {
    if (provider()) return provider()();
    ClientServices services = baseClientServices();
    services.ui = std::make_shared<ScriptedUserInterface>();
    services.settings = std::make_shared<MemorySettingsStore>();
    services.timers = std::make_shared<ManualClock>();
    return std::make_shared<const ClientServices>(std::move(services));
}

}  // namespace ovk
