// SPDX-License-Identifier: MIT
#include "qt/desktop_client_services.hpp"

#include "platform/ini_settings_store.hpp"
#include "qt/qt_timer_factory.hpp"
#include "qt/qt_user_interface.hpp"
#include "qt/service_wait.hpp"
#include "soap/soap_client.hpp"

namespace ovk {

ClientServices desktopClientServices(std::optional<std::filesystem::path> settingsFolder) {
    ClientServices services = baseClientServices();
    auto ui = std::make_shared<QtUserInterface>();
    services.ui = ui;
    services.settings = std::make_shared<IniSettingsStore>(std::move(settingsFolder));
    services.timers = std::make_shared<QtTimerFactory>([weak = std::weak_ptr<QtUserInterface>(ui)] {
        if (const auto shown = weak.lock()) shown->renderOpenViews();
    });
    // The splash and the wizard stay painted however long the service takes to answer.
    services.makeServiceClient = [] {
        auto client = std::make_shared<soap::SoapClient>();
        client->setWaitHook(&letWindowsPaintWhileWaiting);
        return client;
    };
    return services;
}

void useDesktopClientServices() {
    setDefaultClientServicesProvider([] {
        // One user interface for all clients of the process, so that nested clients (a host
        // handler creating another) still share the one override cursor.
        static const auto shared = std::make_shared<const ClientServices>(desktopClientServices());
        return shared;
    });
}

}  // namespace ovk
