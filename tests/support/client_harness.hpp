// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "component/client_impl.hpp"
#include "component/client_services.hpp"
#include "component/soap_setup.hpp"
#include "fake_service_client.hpp"
#include "fake_shell.hpp"
#include "ovk/client.hpp"
#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"

namespace ovk::test {

// Records every event a Client raises, in order, as readable lines.
struct RecordingEvents : ClientEvents {
    std::vector<std::string> log;
    struct Raised {
        int32_t number;
        std::string message;
        std::string source;
    };
    std::vector<Raised> exceptions;

    void Exception(int32_t Number, const std::string& Message, const std::string& Source) override {
        exceptions.push_back({Number, Message, Source});
        log.push_back("Exception " + std::to_string(Number));
    }
    void DownloadComplete() override { log.emplace_back("DownloadComplete"); }
    void DownloadCancel() override { log.emplace_back("DownloadCancel"); }
    void CancelForInstallNewClient() override { log.emplace_back("CancelForInstallNewClient"); }
    void HelpRequested() override { log.emplace_back("HelpRequested"); }
    void StepChanged(int16_t Stepnumber) override {
        log.push_back("StepChanged " + std::to_string(Stepnumber));
    }
    // Unattended clients put their boxes here; `answer` is what the host replies.
    std::vector<MessageBoxRequest> boxes;
    int32_t answer = 0;
    int32_t MessageBox(const MessageBoxRequest& Box) override {
        boxes.push_back(Box);
        log.push_back("MessageBox " + Box.Title);
        return answer;
    }
};

// A Client wired to scripted services: a screenless user interface, settings in memory, a fake
// shell, and either a scripted service client (`fakeService`) or the real SOAP client.
struct ClientHarness {
    std::shared_ptr<ScriptedUserInterface> ui = std::make_shared<ScriptedUserInterface>();
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakePlatformInfo> platform = std::make_shared<FakePlatformInfo>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeServiceClient> fakeService = std::make_shared<FakeServiceClient>();
    RecordingEvents events;
    std::unique_ptr<Client> client;

    explicit ClientHarness(bool realService = false) {
        ClientServices services = realService ? baseClientServices() : ClientServices{};
        services.ui = ui;
        services.settings = settings;
        services.shell = shell;
        services.platform = platform;
        services.timers = clock;
        if (!realService) {
            auto fake = fakeService;
            services.makeServiceClient = [fake] { return fake; };
        }
        client = std::make_unique<Client>(std::make_unique<Client::Impl>(
            std::make_shared<const ClientServices>(std::move(services))));
        client->setEvents(&events);
    }

    // A refused connection is tried again after waits of seconds; a test of what the user is
    // told about the failure needs the failure, not the waits.
    void failFast() {
        settings->write(kSettingsApplication, "Settings", kRetryAttemptsSetting, "0");
    }
};

}  // namespace ovk::test
