// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>

#include "client_harness.hpp"
#include "component_folder.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

using test::ClientHarness;
using test::ComponentFolder;
using test::downloadDocument;
using test::TempDir;

constexpr const char* kClientData =
    "<r><ClientData Version='" OVK_VERSION_TEXT
    "' Installer='setup-1.0.19.run' Reserved='' "
    "BannerURL='http://banner' "
    "MailURL='mailto:info@example.org'><![CDATA[/9j/4AAQ]]></ClientData></r>";
constexpr const char* kStructure =
    "<r><Structure><Field P='x' L='1033' ID='3' Name='Maker' Type='String' "
    "Code='C3'/></Structure></r>";

struct Startup : ::testing::Test {
    ComponentFolder component;
    TempDir work;
    ClientHarness h;
    std::string documentPath;

    Startup() {
        documentPath = work.write("download.xml", downloadDocument("TARVO",
                                                                   "<URL>http://127.0.0.1:1/</URL>"
                                                                   "<ProjectID>DEMO</ProjectID>"
                                                                   "<Language>German</Language>"
                                                                   "<Password>pw</Password>"))
                           .string();
        h.fakeService->replies["GetClientData"] = kClientData;
        h.fakeService->replies["getStructure"] = kStructure;
    }

    void writeDocument(const std::string& text) { work.write("download.xml", text); }

    // Runs Init and checks it raised exactly one Exception with this number, message and source.
    void expectFailure(int32_t init, int32_t number, const std::string& message,
                       const std::string& source = "Init") {
        EXPECT_EQ(h.client->Init(documentPath), init);
        ASSERT_EQ(h.events.exceptions.size(), 1u) << ::testing::PrintToString(h.events.log);
        EXPECT_EQ(h.events.exceptions[0].number, number);
        EXPECT_EQ(h.events.exceptions[0].message, message);
        EXPECT_EQ(h.events.exceptions[0].source, source);
        EXPECT_EQ(h.events.log.size(), 1u);
    }
};

TEST_F(Startup, SucceedsWritesTheBannerAndFallsBackToEnglish) {
    EXPECT_EQ(h.client->Init(documentPath), 0);
    EXPECT_TRUE(h.events.log.empty()) << ::testing::PrintToString(h.events.log);
    EXPECT_EQ(h.client->GUILangID(), 1033);
    EXPECT_EQ(h.client->DownloadFile(), documentPath);
    EXPECT_EQ(h.client->ServiceUrl(), "http://127.0.0.1:1/");
    EXPECT_EQ(test::readAll(work / "Banner1.jpg"), std::string("\xFF\xD8\xFF\xE0\x00\x10", 6));
    EXPECT_EQ(h.ui->shownForms(), std::vector<std::string>{"frmSplash"});

    // The service saw the calls in order, with the language number of "German".
    const auto& calls = h.fakeService->calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].operation, "HelloWorld");
    EXPECT_EQ(calls[1].operation, "GetClientData");
    EXPECT_EQ(std::get<std::string>(calls[1].args[0]), "6103");
    EXPECT_EQ(std::get<int16_t>(calls[1].args[1]), 1033);
    EXPECT_EQ(calls[2].operation, "getStructure");
    EXPECT_EQ(std::get<std::string>(calls[2].args[0]), "pw");
    EXPECT_EQ(std::get<std::string>(calls[2].args[1]), "DEMO");
    EXPECT_EQ(std::get<int16_t>(calls[2].args[2]), 1031);
}

TEST_F(Startup, KeepsAKnownGuiLanguageAndAnEarlierDownloadFile) {
    h.client->GUILangID(1031);
    h.client->DownloadFile(documentPath);
    EXPECT_EQ(h.client->Init(""), 0);
    EXPECT_EQ(h.client->GUILangID(), 1031);
    EXPECT_EQ(h.client->DownloadFile(), documentPath);
}

TEST_F(Startup, AMissingDocumentIsMinusOne) {
    documentPath = (work / "absent.xml").string();
    expectFailure(-1, 53, "File " + documentPath + " not found.");
}

TEST_F(Startup, MissingComponentFilesAreMinusTwoToFour) {
    component.remove("nls.xml");
    expectFailure(-2, 53, "File " + (component.path() / "NLS.XML").string() + " not found.");
}

TEST_F(Startup, AMissingMeridoSchemaFailsEvenForATarvoDocument) {
    component.remove("MERIDO_download.XSD");
    expectFailure(-4, 53,
                  "File " + (component.path() / "MERIDO_download.XSD").string() + " not found.");
}

TEST_F(Startup, AMissingTarvoSchemaIsMinusThree) {
    component.remove("TARVO_download.XSD");
    expectFailure(-3, 53,
                  "File " + (component.path() / "TARVO_download.XSD").string() + " not found.");
}

TEST_F(Startup, ANotWellFormedDocumentGivesTheParsersReason) {
    writeDocument("<Download><System>TARVO</System>");
    EXPECT_EQ(h.client->Init(documentPath), -7);
    ASSERT_EQ(h.events.exceptions.size(), 1u);
    EXPECT_EQ(h.events.exceptions[0].number, 17);
    EXPECT_FALSE(h.events.exceptions[0].message.empty());
    EXPECT_EQ(h.events.exceptions[0].message.find("Error validating"), std::string::npos);
}

// A document may carry a document type, but no entity it declares is ever expanded: a 13 KB
// file could otherwise stand for gigabytes of text. Such a document is refused before any of
// its text is read, promptly.
TEST_F(Startup, DocumentsDeclaringEntitiesAreRefusedBeforeAnyTextIsRead) {
    const std::string elements = "<ProjectID>P</ProjectID><Language>German</Language>";
    std::string references;
    for (int i = 0; i < 10000; ++i) references += "&big;";
    const struct {
        const char* what;
        std::string doctype;
        std::string system;
        int32_t init;
    } cases[] = {
        {"internal entity of 100 KB, 10,000 references",
         "<!DOCTYPE Download [<!ENTITY big \"" + std::string(100000, 'x') + "\">]>",
         "TARVO" + references, -7},
        {"parameter entity", "<!DOCTYPE Download [<!ENTITY % p \"x\">]>", "TARVO", -7},
        {"external entity", "<!DOCTYPE Download [<!ENTITY ext SYSTEM \"/etc/hostname\">]>",
         "TARVO&ext;", -7},
        {"document type without entities", "<!DOCTYPE Download>", "TARVO", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        h.events.exceptions.clear();
        std::string text = downloadDocument(c.system, elements);
        text.insert(text.find("<Download>"), c.doctype + "\n");
        writeDocument(text);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(h.client->Init(documentPath), c.init);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (c.init == -7) {
            ASSERT_EQ(h.events.exceptions.size(), 1u);
            EXPECT_EQ(h.events.exceptions[0].number, 17);
            EXPECT_NE(h.events.exceptions[0].message.find("declares the entity"), std::string::npos)
                << h.events.exceptions[0].message;
        } else {
            EXPECT_TRUE(h.events.exceptions.empty());
        }
    }
}

TEST_F(Startup, AnUnknownProjectTypeIsMinusSix) {
    writeDocument(downloadDocument("OTHER", "<ProjectID>P</ProjectID><Language>German</Language>"));
    expectFailure(-6, 17, "Error Schema File not found");
}

TEST_F(Startup, AProjectTypeThatLooksLikeAnErrorIsMinusFive) {
    writeDocument(downloadDocument("ERRORTYPE", ""));
    expectFailure(-5, 17, "ERRORTYPE");
}

TEST_F(Startup, AnInvalidDocumentGivesTheValidationText) {
    writeDocument(downloadDocument("TARVO", "<Bogus/>"));
    EXPECT_EQ(h.client->Init(documentPath), -7);
    ASSERT_EQ(h.events.exceptions.size(), 1u);
    const std::string& message = h.events.exceptions[0].message;
    EXPECT_EQ(message.rfind("Error validating DownloadFile with Schema\r\n", 0), 0u) << message;
    EXPECT_EQ(message.substr(43), h.client->ValidationErrorCodes());
    EXPECT_NE(h.client->ValidationErrorCodes().find("on Line: 4 Position: "), std::string::npos);
}

TEST_F(Startup, MissingSettingsAreMinusEightWithTheReadingsText) {
    for (const auto& [elements, text] : std::vector<std::pair<std::string, std::string>>{
             {"<URL>short</URL>", "Error No Service URL"},
             {"<Language>German</Language>", "Error No Projekt ID"},
             {"<ProjectID>P</ProjectID>", "Error No Language"}}) {
        writeDocument(downloadDocument("TARVO", elements));
        h.events.log.clear();
        h.events.exceptions.clear();
        expectFailure(-8, 57, "Failed to gather Config-Information" + text);
    }
}

TEST_F(Startup, AnUnknownProjectLanguageIsMinusTwelve) {
    writeDocument(
        downloadDocument("TARVO", "<ProjectID>P</ProjectID><Language>Klingon</Language>"));
    expectFailure(-12, 21, "Language Klingon not found.");
}

TEST_F(Startup, AProxyPortBeyond32BitsIsMinus992) {
    writeDocument(downloadDocument("TARVO",
                                   "<ProjectID>P</ProjectID><Language>German</Language>"
                                   "<Proxy_PORT>99999999999</Proxy_PORT>"));
    EXPECT_EQ(h.client->Init(documentPath), -992);
    ASSERT_EQ(h.events.exceptions.size(), 1u);
    EXPECT_EQ(h.events.exceptions[0].number, err::Overflow);
}

TEST_F(Startup, AServiceThatDoesNotGreetIsMinusNine) {
    h.fakeService->helloAnswer = "Goodbye";
    expectFailure(-9, 17, "Error ");
    EXPECT_EQ(h.client->ValidationErrorCodes(), "Error ");
}

TEST_F(Startup, NoClientDataIsMinusTen) {
    h.fakeService->replies["GetClientData"] = "";
    expectFailure(-10, 17, "Failed to get Client-Information and Ressources");
}

TEST_F(Startup, ClientDataWithoutAnElementIsMinusTen) {
    h.fakeService->replies["GetClientData"] = "<r>text only</r>";
    expectFailure(-10, 17, "Failed to get Client-Information and Ressources");
}

TEST_F(Startup, AnInvalidCallWhileFetchingClientDataIsReportedAsMissingClientData) {
    h.fakeService->failures["GetClientData"] = err::InvalidArgument;
    expectFailure(-10, 17, "Failed to get Client-Information and Ressources", "INIT.GetClientData");
}

TEST_F(Startup, UnknownCredentialsAreMinusEleven) {
    h.fakeService->replies["getStructure"] =
        "<r><Exception ID='32' Description='x' Source='y'/></r>";
    expectFailure(-11, 32, "Combination of ProjectID,Password and LangID not found");
}

TEST_F(Startup, AnEmptyStructureReplyIsMinusEleven) {
    h.fakeService->replies["getStructure"] = "";
    expectFailure(-11, 32, "Combination of ProjectID,Password and LangID not found");
}

TEST_F(Startup, ANewerVersionDeclinedIsOneWithDownloadCancel) {
    h.fakeService->replies["GetClientData"] =
        "<r><ClientData Version='1.0.19' Installer='setup.run' R='' B='b' "
        "M='m'><![CDATA[QQ==]]></ClientData></r>";
    h.ui->queueAnswer(MsgBoxAnswer::Cancel);
    EXPECT_EQ(h.client->Init(documentPath), 1);
    EXPECT_EQ(h.events.log, std::vector<std::string>{"DownloadCancel"});
    ASSERT_EQ(h.ui->boxes().size(), 1u);
    EXPECT_EQ(h.ui->boxes()[0].title, "New Version");
    EXPECT_EQ(h.ui->boxes()[0].text, "Updated Client Version available. Install now?");
    EXPECT_EQ(h.ui->boxes()[0].buttons, MsgBoxButtons::OkCancel);
    EXPECT_EQ(h.ui->boxes()[0].icon, MsgBoxIcon::Question);
    EXPECT_TRUE(h.shell->calls().empty());
    EXPECT_FALSE(std::filesystem::exists(work / "Banner1.jpg"));
}

// The service names the installer of a newer version; only a web address is handed to the
// shell, as one target to open, never as a command line.
TEST_F(Startup, ANewerVersionAcceptedOpensOnlyAWebAddress) {
    const struct {
        const char* installer;
        int32_t init;
    } cases[] = {
        {"https://example.org/setup.run", -1},
        {"HTTP://example.org/setup.run?a=1;b=2", -1},
        {"https://example.org/setup; rm -rf ~", -999},
        {"setup.run", -999},
        {"/usr/bin/xterm", -999},
        {"file:///tmp/setup.run", -999},
        {"javascript:alert(1)", -999},
        {"http:///setup.run", -999},
        {"https://example.org/a\nb", -999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installer);
        h.events.log.clear();
        h.events.exceptions.clear();
        const std::size_t callsBefore = h.shell->calls().size();
        h.fakeService->replies["GetClientData"] =
            std::string("<r><ClientData Version='1.0.19' Installer='") + c.installer +
            "' R='' B='b' M='m'><![CDATA[QQ==]]></ClientData></r>";
        h.ui->queueAnswer(MsgBoxAnswer::Ok);
        EXPECT_EQ(h.client->Init(documentPath), c.init);
        if (c.init == -1) {
            EXPECT_EQ(h.events.log, std::vector<std::string>{"CancelForInstallNewClient"});
            ASSERT_EQ(h.shell->calls().size(), callsBefore + 1);
            EXPECT_EQ(h.shell->calls().back().target, c.installer);
        } else {
            ASSERT_EQ(h.events.exceptions.size(), 1u);
            EXPECT_NE(h.events.exceptions[0].message.find("not at a web address"),
                      std::string::npos);
            EXPECT_EQ(h.shell->calls().size(), callsBefore);
        }
    }
}

TEST_F(Startup, AFailedInstallerStartAfterOkIsMinus999) {
    h.fakeService->replies["GetClientData"] =
        "<r><ClientData Version='1.0.19'/></r>";  // no installer attribute
    h.ui->queueAnswer(MsgBoxAnswer::Ok);
    EXPECT_EQ(h.client->Init(documentPath), -999);
    ASSERT_EQ(h.events.exceptions.size(), 1u);
    EXPECT_EQ(h.events.exceptions[0].number, err::ObjectMissing);
}

TEST_F(Startup, ASecondInitReplacesTheServiceClientAndKeepsTheValidationText) {
    writeDocument(downloadDocument("TARVO", "<Bogus/>"));
    EXPECT_EQ(h.client->Init(documentPath), -7);
    const std::string text = h.client->ValidationErrorCodes();
    writeDocument(downloadDocument("TARVO", "<ProjectID>P</ProjectID><Language>German</Language>"));
    ClientHarness other;
    other.fakeService->replies = h.fakeService->replies;
    EXPECT_EQ(other.client->Init(documentPath), 0);
    EXPECT_EQ(h.client->ValidationErrorCodes(), text);
    EXPECT_EQ(h.client->Init(documentPath), 0);
}

TEST_F(Startup, ShowPreparesTheWizardWithTheHourglassOffBeforeItOpens) {
    ASSERT_EQ(h.client->Init(documentPath), 0);
    std::vector<MousePointer> pointers;
    h.ui->onPointer([&](MousePointer p) { pointers.push_back(p); });
    std::optional<MousePointer> pointerWhileWizardShows;
    h.ui->queueAction([&](Form& form) {
        EXPECT_EQ(form.formName(), "frmWiz");
        pointerWhileWizardShows = h.ui->mousePointer();
        form.requestClose();
    });
    h.client->Show();
    EXPECT_EQ(h.ui->shownForms(), (std::vector<std::string>{"frmSplash", "frmSplash", "frmWiz"}));
    // The preparation's own hourglass comes first; the wizard's loading sets its own after it.
    ASSERT_GE(pointers.size(), 2u);
    EXPECT_EQ(pointers[0], MousePointer::Hourglass);
    EXPECT_EQ(pointers[1], MousePointer::Default);
    EXPECT_EQ(pointers.back(), MousePointer::Default);
    EXPECT_EQ(pointerWhileWizardShows, MousePointer::Default);
}

}  // namespace
}  // namespace ovk

namespace ovk {
namespace {

// Show works on what Init prepared; without it there is nothing to show.
TEST_F(Startup, ShowWithoutASuccessfulInitReportsOnceAndShowsNothing) {
    const auto showRefused = [&](const char* when) {
        h.events = {};
        const std::size_t formsBefore = h.ui->shownForms().size();
        try {
            h.client->Show();
            ADD_FAILURE() << when << ": Show went ahead";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::ObjectMissing) << when;
            EXPECT_EQ(e.source, "Show") << when;
        }
        ASSERT_EQ(h.events.exceptions.size(), 1u) << when;
        EXPECT_EQ(h.events.exceptions[0].source, "Show") << when;
        EXPECT_NE(h.events.exceptions[0].message.find("successful Init"), std::string::npos);
        EXPECT_EQ(h.ui->shownForms().size(), formsBefore) << when;
    };
    showRefused("before any Init");

    writeDocument(downloadDocument("TARVO", "<Bogus/>"));
    EXPECT_EQ(h.client->Init(documentPath), -7);
    showRefused("after a failed Init");

    writeDocument(downloadDocument("TARVO", "<ProjectID>P</ProjectID><Language>German</Language>"));
    ASSERT_EQ(h.client->Init(documentPath), 0);
    h.ui->queueAction([](Form& form) { form.requestClose(); });
    h.events = {};
    EXPECT_NO_THROW(h.client->Show());
    EXPECT_EQ(h.ui->shownForms().back(), "frmWiz");

    // A later failing Init takes the permission back.
    EXPECT_EQ(h.client->Init(work.path().string() + "/missing.xml"), -1);
    showRefused("after a successful Init followed by a failed one");
}

}  // namespace
}  // namespace ovk
