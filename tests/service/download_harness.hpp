// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client_harness.hpp"
#include "component/client_impl.hpp"
#include "component_folder.hpp"
#include "xml/document.hpp"

namespace ovk::test {

// The component as the wizard sees it during Finish: a Client's state after a successful Init,
// whose download handlers a test calls in the wizard's order (structure, items, Finish).
struct DownloadHarness {
    ComponentFolder component;
    TempDir work;
    ClientHarness host;  // the scripted services and the events the host receives
    std::unique_ptr<Client::Impl> impl;

    explicit DownloadHarness(bool realService = false) {
        ClientServices services = realService ? baseClientServices() : ClientServices{};
        services.ui = host.ui;
        services.settings = host.settings;
        services.shell = host.shell;
        services.platform = host.platform;
        services.timers = host.clock;
        if (!realService) {
            auto fake = host.fakeService;
            services.makeServiceClient = [fake] { return fake; };
        }
        impl = std::make_unique<Client::Impl>(
            std::make_shared<const ClientServices>(std::move(services)));
        impl->events = &host.events;
    }

    std::filesystem::path downloadFile() const { return work / "download.xml"; }

    // Writes the download document and runs the start-up on it against the real service.
    void init(
        const std::string& url, const std::string& project = "DEMO",
        const std::string& password = "demo",
        const std::string& files = "<Symbolfile>sym.txt</Symbolfile><Gerfile>ger.txt</Gerfile>") {
        work.write("download.xml",
                   downloadDocument("TARVO",
                                    "  <URL>" + url + "</URL>\n  <ProjectID>" + project +
                                        "</ProjectID>\n  <Language>English</Language>\n"
                                        "  <Password>" +
                                        password + "</Password>",
                                    files));
        int32_t result = 0;
        int32_t init = 0;
        impl->InitializeEnvironment(downloadFile().string(), result, init);
        ASSERT_EQ(init, 0) << ::testing::PrintToString(host.events.log);
    }

    // Without a service: the document is loaded as Init would leave it, the fake service
    // answers.
    void load(const std::string& documentText) {
        const auto path = work.write("download.xml", documentText);
        impl->DownloadFile = path.string();
        impl->MyXMLDocument = std::make_shared<xml::Document>(xml::Document::loadFile(path));
        impl->MySoapobject = host.fakeService;
        impl->settings.projectId = "DEMO";
        impl->settings.projectPassword = "demo";
        impl->settings.projectLanguage = "English";
    }
};

}  // namespace ovk::test
