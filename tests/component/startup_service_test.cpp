// SPDX-License-Identifier: MIT
// The start-up against the reference service over real SOAP on loopback: what a host sees.

#include <gtest/gtest.h>

#include <optional>

#include "client_harness.hpp"
#include "component_folder.hpp"
#include "ref_service.hpp"

namespace ovk {
namespace {

using test::ClientHarness;
using test::ComponentFolder;
using test::downloadDocument;
using test::RefService;
using test::TempDir;

struct StartupWithService : ::testing::Test {
    ComponentFolder component;
    TempDir work;
    ClientHarness h{true};

    std::string document(const std::string& url, const std::string& password = "demo") {
        return work
            .write("download.xml",
                   downloadDocument("TARVO", "<URL>" + url +
                                                 "</URL><ProjectID>DEMO</ProjectID>"
                                                 "<Language>English</Language><Password>" +
                                                 password + "</Password>"))
            .string();
    }
    void expectOnlyException(int32_t number, const std::string& messageStart) {
        ASSERT_EQ(h.events.exceptions.size(), 1u) << ::testing::PrintToString(h.events.log);
        EXPECT_EQ(h.events.exceptions[0].number, number);
        EXPECT_EQ(h.events.exceptions[0].message.rfind(messageStart, 0), 0u)
            << h.events.exceptions[0].message;
        EXPECT_EQ(h.events.exceptions[0].source, "Init");
    }
};

TEST_F(StartupWithService, ReachesTheServiceAndIsReady) {
    RefService service;
    const std::string path = document(service.url());
    EXPECT_EQ(h.client->Init(path), 0);
    EXPECT_TRUE(h.events.log.empty()) << ::testing::PrintToString(h.events.log);
    EXPECT_GT(std::filesystem::file_size(work / "Banner1.jpg"), 100u);
    EXPECT_EQ(h.client->GUILangID(), 1033);
    EXPECT_EQ(h.settings->readText(kSettingsApplication, "Settings", "SOAPTimeout"), "180000");
}

TEST_F(StartupWithService, AnEmptyUrlUsesTheAddressOfTheServiceDescription) {
    RefService service;
    // The component's description names the service's own address.
    std::string wsdl = test::readAll(component.path() / "VelmoraSvr.wsdl");
    const std::string placeholder = "http://127.0.0.1:8080/";
    ASSERT_NE(wsdl.find(placeholder), std::string::npos);
    wsdl.replace(wsdl.find(placeholder), placeholder.size(), service.url());
    component.write("VelmoraSvr.wsdl", wsdl);
    const std::string path =
        work.write("download.xml",
                   downloadDocument("TARVO",
                                    "<ProjectID>DEMO</ProjectID><Language>English</Language>"
                                    "<Password>demo</Password>"))
            .string();
    h.client->ServiceUrl("http://127.0.0.1:1/ignored");
    EXPECT_EQ(h.client->Init(path), 0) << ::testing::PrintToString(h.events.log);
    EXPECT_EQ(h.client->ServiceUrl(), "");
}

TEST_F(StartupWithService, AnUnreachableServiceIsMinusNine) {
    // A port nobody listens on: start a service to learn a free port, then stop it.
    std::string url;
    {
        RefService service;
        url = service.url();
    }
    h.failFast();
    EXPECT_EQ(h.client->Init(document(url)), -9);
    expectOnlyException(17, "Error Kommunikationsfehler: kann Service nicht erreichen");
    EXPECT_EQ(h.client->ValidationErrorCodes(), h.events.exceptions[0].message);
    EXPECT_GT(h.client->ValidationErrorCodes().size(),
              std::string("Error Kommunikationsfehler: kann Service nicht erreichen").size());
}

TEST_F(StartupWithService, AServiceAnsweringSomethingElseIsMinusNine) {
    RefService service({"--hello", "Goodbye"});
    EXPECT_EQ(h.client->Init(document(service.url())), -9);
    expectOnlyException(17, "Error ");
}

TEST_F(StartupWithService, AMissingServiceDescriptionIsMinusNine) {
    RefService service;
    component.remove("VelmoraSvr.wsdl");
    EXPECT_EQ(h.client->Init(document(service.url())), -9);
    expectOnlyException(17, "Error by load wsdl");
}

TEST_F(StartupWithService, NoClientDataIsMinusTen) {
    RefService service({"--fault", "GetClientData=empty"});
    EXPECT_EQ(h.client->Init(document(service.url())), -10);
    expectOnlyException(17, "Failed to get Client-Information and Ressources");
}

TEST_F(StartupWithService, AFailingClientDataCallReportsTheServiceError) {
    RefService service({"--fault", "GetClientData=http500"});
    EXPECT_EQ(h.client->Init(document(service.url())), -10);
    ASSERT_EQ(h.events.exceptions.size(), 1u);
    EXPECT_GE(h.events.exceptions[0].number, 5000);
}

TEST_F(StartupWithService, AWrongPasswordIsMinusEleven) {
    RefService service;
    EXPECT_EQ(h.client->Init(document(service.url(), "wrong")), -11);
    expectOnlyException(32, "Combination of ProjectID,Password and LangID not found");
}

TEST_F(StartupWithService, AnEmptyStructureIsMinusEleven) {
    RefService service({"--fault", "getStructure=empty"});
    EXPECT_EQ(h.client->Init(document(service.url())), -11);
    expectOnlyException(32, "Combination of ProjectID,Password and LangID not found");
}

TEST_F(StartupWithService, ANewerVersionCancelledOrInstalled) {
    RefService service({"--client-version", "1.0.19"});
    const std::string path = document(service.url());
    h.ui->queueAnswer(MsgBoxAnswer::Cancel);
    EXPECT_EQ(h.client->Init(path), 1);
    EXPECT_EQ(h.events.log, std::vector<std::string>{"DownloadCancel"});

    h.events.log.clear();
    h.ui->queueAnswer(MsgBoxAnswer::Ok);
    EXPECT_EQ(h.client->Init(path), -1);
    EXPECT_EQ(h.events.log, std::vector<std::string>{"CancelForInstallNewClient"});
    ASSERT_EQ(h.shell->calls().size(), 1u);
    EXPECT_EQ(h.shell->calls()[0].target, "https://downloads.velmora.example/ovk_client/setup.exe");
}

// Init gives 0 only for a finished start-up: whatever goes wrong after the version check
// reports one Exception and a negative code.
TEST_F(StartupWithService, AnUnfinishedStartUpIsNeverZero) {
    const struct {
        std::string fault;
        int32_t init;
        std::string source;
    } cases[] = {
        {"getStructure=http500", -11, "Init"},
        {"getStructure=soapfault", -11, "Init"},
        {"getStructure=malformed", -11, "Init"},
        {"getStructure=truncated", -11, "Init"},
        {"getStructure=elementstream:8M", -11, "Init"},
        {"getStructure=hugefault:1M", -11, "Init"},
        {"GetClientData=exception", -10, "VelmoraSvr.GetClientData"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        h.events.log.clear();
        h.events.exceptions.clear();
        RefService service({"--fault", c.fault});
        EXPECT_EQ(h.client->Init(document(service.url())), c.init);
        ASSERT_EQ(h.events.exceptions.size(), 1u) << ::testing::PrintToString(h.events.log);
        EXPECT_EQ(h.events.exceptions[0].source, c.source);
        // A service's text reaches the host cut to a few KiB.
        EXPECT_LE(h.events.exceptions[0].message.size(), 4096u + 3);
    }
    // The record's own ID and Description, not a version to install.
    EXPECT_EQ(h.events.exceptions[0].number, 32);
    EXPECT_EQ(h.events.exceptions[0].message, "Injected exception in GetClientData");
    EXPECT_TRUE(h.shell->calls().empty());
}

// A host's Exception handler may call Init again while a failing Init reports: each call
// returns its own outcome, and Show follows the start-up that ran last.
TEST_F(StartupWithService, AnInitInsideTheExceptionHandlerKeepsEachOutcomeApart) {
    RefService service;
    const std::string wrongPassword =
        work.write("wrong.xml", test::readAll(document(service.url(), "wrong"))).string();
    const std::string good = document(service.url());
    const std::string missing = (work / "absent.xml").string();
    struct Reentering : test::RecordingEvents {
        Client* client = nullptr;
        std::string path;
        bool started = false;
        std::optional<int32_t> nestedInit;
        void Exception(int32_t Number, const std::string& Message,
                       const std::string& Source) override {
            RecordingEvents::Exception(Number, Message, Source);
            if (started) return;
            started = true;
            nestedInit = client->Init(path);
        }
    };
    const struct {
        std::string outer, nested;
        int32_t outerInit, nestedInit;
        bool showRuns;
    } cases[] = {
        {missing, good, -1, 0, true},
        {wrongPassword, good, -11, 0, true},
        {wrongPassword, missing, -11, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outer + " then " + c.nested);
        ClientHarness host{true};
        Reentering events;
        events.client = host.client.get();
        events.path = c.nested;
        host.client->setEvents(&events);
        EXPECT_EQ(host.client->Init(c.outer), c.outerInit);
        EXPECT_EQ(events.nestedInit, c.nestedInit);
        if (c.showRuns) {
            EXPECT_NO_THROW(host.client->Show());
        } else {
            EXPECT_THROW(host.client->Show(), Error);
        }
    }
}

TEST_F(StartupWithService, ABannerThatCannotBeSavedIsMinusEleven) {
    RefService service;
    // A folder in the picture's place: the rename over it fails even for root.
    std::filesystem::create_directory(work / "Banner1.jpg");
    EXPECT_EQ(h.client->Init(document(service.url())), -11);
    ASSERT_EQ(h.events.exceptions.size(), 1u) << ::testing::PrintToString(h.events.log);
    EXPECT_NE(h.events.exceptions[0].message.find("Banner1.jpg"), std::string::npos)
        << h.events.exceptions[0].message;
}

TEST_F(StartupWithService, AHugeFaultInTheGreetingLeavesABoundedValidationText) {
    RefService service({"--fault", "HelloWorld=hugefault:2M"});
    EXPECT_EQ(h.client->Init(document(service.url())), -9);
    EXPECT_LE(h.client->ValidationErrorCodes().size(), 4096u + 3);
    EXPECT_EQ(h.client->ValidationErrorCodes().rfind("Error", 0), 0u);
}

}  // namespace
}  // namespace ovk

namespace ovk {
namespace {

// Unattended: the host answers every box through its event, or leaves it to the default.
TEST_F(StartupWithService, UnattendedPutsEveryBoxToTheHostAndShowsNoWindow) {
    RefService service({"--client-version", "9.9.9"});
    const std::string path = document(service.url());
    struct Case {
        int32_t hostAnswer;
        int32_t init;
        const char* event;
    };
    for (const Case c : {Case{2, 1, "DownloadCancel"},                 // Cancel
                         Case{0, -1, "CancelForInstallNewClient"},     // the default: OK
                         Case{6, -1, "CancelForInstallNewClient"}}) {  // Yes: not a button here
        ClientHarness host{true};
        host.client->Unattended(true);
        host.events.answer = c.hostAnswer;
        EXPECT_EQ(host.client->Init(path), c.init) << c.hostAnswer;
        EXPECT_EQ(host.events.log, (std::vector<std::string>{"MessageBox New Version", c.event}))
            << c.hostAnswer;
        ASSERT_EQ(host.events.boxes.size(), 1u);
        EXPECT_EQ(host.events.boxes[0].Buttons, 1);
        EXPECT_EQ(host.events.boxes[0].Icon, 32);
        EXPECT_EQ(host.events.boxes[0].DefaultAnswer, 1);
        // The harness's own screenless interface saw nothing: no window, no box.
        EXPECT_TRUE(host.ui->shownForms().empty());
        EXPECT_TRUE(host.ui->boxes().empty());
    }
}

TEST_F(StartupWithService, UnattendedShowRunsTheWizardWithoutAWindowAndEndsCancelled) {
    RefService service;
    h.client->Unattended(true);
    ASSERT_EQ(h.client->Init(document(service.url())), 0);
    h.client->Show();
    EXPECT_TRUE(h.ui->shownForms().empty());
    EXPECT_EQ(h.events.log.back(), "DownloadCancel") << ::testing::PrintToString(h.events.log);

    // The mode cannot change under a running call; between calls it can.
    struct Switcher : test::RecordingEvents {
        Client* client = nullptr;
        bool refused = false;
        void DownloadCancel() override {
            try {
                client->Unattended(false);
            } catch (const Error& e) {
                refused = e.number == err::InvalidArgument;
            }
        }
    } switcher;
    switcher.client = h.client.get();
    h.client->setEvents(&switcher);
    h.client->Show();
    EXPECT_TRUE(switcher.refused);
    EXPECT_TRUE(h.client->Unattended());
    h.client->Unattended(false);
    EXPECT_FALSE(h.client->Unattended());
}

}  // namespace
}  // namespace ovk
