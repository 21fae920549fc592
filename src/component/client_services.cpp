#include "component/client_services.hpp"

#include <mutex>

#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#if __has_include("platform/soap/soap_client.hpp")
#include "platform/soap/soap_client.hpp"
#define OVK_TEMP_HAVE_SOAP 1
#endif

namespace ovk {
namespace {

ClientServicesProvider& provider() {
    static ClientServicesProvider instance;
    return instance;
}

}  // namespace

void setDefaultClientServicesProvider(ClientServicesProvider newProvider) { provider() = std::move(newProvider); }

ClientServices baseClientServices() {
    ClientServices services;
    services.shell = std::make_shared<XdgOpenShell>();
    services.platform = std::make_shared<LinuxPlatformInfo>();
#ifdef OVK_TEMP_HAVE_SOAP
    services.makeServiceClient = [] { return std::make_shared<soap::SoapClient>(); };
#endif
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
