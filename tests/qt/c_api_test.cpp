// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "modal_helpers.hpp"
#include "ovk/ovk_client.h"
#include "ovk/version.h"

namespace {

// Hosts are built against this order: each member sits at its position in the interface.
#define OVK_AT(member, position) \
    static_assert(offsetof(ovk_client_functions, member) == (position - 1) * sizeof(void*), #member)
OVK_AT(Test, 1);
OVK_AT(Show, 2);
OVK_AT(Init, 3);
OVK_AT(set_DownloadFile, 4);
OVK_AT(get_DownloadFile, 5);
OVK_AT(set_ServiceUrl, 6);
OVK_AT(get_ServiceUrl, 7);
OVK_AT(set_ProxyPassword, 8);
OVK_AT(get_ProxyPassword, 9);
OVK_AT(set_ProxyUserName, 10);
OVK_AT(get_ProxyUserName, 11);
OVK_AT(set_ProxyPort, 12);
OVK_AT(get_ProxyPort, 13);
OVK_AT(set_ProxyIP, 14);
OVK_AT(get_ProxyIP, 15);
OVK_AT(get_ValidationErrorCodes, 16);
OVK_AT(get_ActiveStepNumber, 17);
OVK_AT(get_GUILangID, 18);
OVK_AT(set_GUILangID, 19);
OVK_AT(set_Unattended, 20);
OVK_AT(get_Unattended, 21);
OVK_AT(set_Trace, 22);
static_assert(sizeof(ovk_client_functions) == 22 * sizeof(void*));
static_assert(offsetof(ovk_client_events, Exception) == 0);
static_assert(offsetof(ovk_client_events, DownloadComplete) == 1 * sizeof(void*));
static_assert(offsetof(ovk_client_events, DownloadCancel) == 2 * sizeof(void*));
static_assert(offsetof(ovk_client_events, CancelForInstallNewClient) == 3 * sizeof(void*));
static_assert(offsetof(ovk_client_events, HelpRequested) == 4 * sizeof(void*));
static_assert(offsetof(ovk_client_events, StepChanged) == 5 * sizeof(void*));
#undef OVK_AT

// What the callbacks received, in order.
struct Received {
    std::vector<std::string> log;
    ovk_client* destroyOnCancel = nullptr;
};

ovk_client_events recordingEvents(Received& received) {
    ovk_client_events events{};
    events.user_data = &received;
    events.Exception = [](void* data, int32_t number, const char* message, const char* source) {
        static_cast<Received*>(data)->log.push_back("Exception " + std::to_string(number) + " " +
                                                    source + " " + message);
    };
    events.DownloadComplete = [](void* data) {
        static_cast<Received*>(data)->log.emplace_back("DownloadComplete");
    };
    events.DownloadCancel = [](void* data) {
        auto* received = static_cast<Received*>(data);
        received->log.emplace_back("DownloadCancel");
        if (received->destroyOnCancel != nullptr) ovk_client_destroy(received->destroyOnCancel);
    };
    return events;
}

class CApiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The host's own application object, which the component must use rather than make one.
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "host";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
    void SetUp() override { ASSERT_EQ(ovk_client_create(&client), OVK_OK); }
    void TearDown() override { ovk_client_destroy(client); }

    std::string text(ovk_status (*getter)(ovk_client*, char*, size_t, size_t*)) {
        size_t length = 0;
        EXPECT_EQ(getter(client, nullptr, 0, &length), OVK_OK);
        std::string value(length + 1, '\0');
        EXPECT_EQ(getter(client, value.data(), value.size(), &length), OVK_OK);
        value.resize(length);
        return value;
    }

    const ovk_client_functions& api = *ovk_client_get_functions();
    ovk_client* client = nullptr;
};

TEST_F(CApiTest, ANewClientHasEmptyTextsAndZeroNumbers) {
    EXPECT_EQ(ovk_client_api_version(), OVK_CLIENT_API_VERSION);
    EXPECT_EQ(text(api.get_DownloadFile), "");
    EXPECT_EQ(text(api.get_ServiceUrl), "");
    EXPECT_EQ(text(api.get_ProxyIP), "");
    int32_t port = -1;
    int16_t step = -1;
    int16_t language = -1;
    EXPECT_EQ(api.get_ProxyPort(client, &port), OVK_OK);
    EXPECT_EQ(api.get_ActiveStepNumber(client, &step), OVK_OK);
    EXPECT_EQ(api.get_GUILangID(client, &language), OVK_OK);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(language, 0);
}

TEST_F(CApiTest, PropertiesKeepWhatTheHostSetsAsUtf8) {
    const std::string umlauts =
        "C:/Projekte/\xC3\x9C"
        "bung/download.xml";
    EXPECT_EQ(api.set_DownloadFile(client, umlauts.c_str()), OVK_OK);
    EXPECT_EQ(api.set_ServiceUrl(client, "http://127.0.0.1:1/svc"), OVK_OK);
    EXPECT_EQ(api.set_ProxyPassword(client, "s3cr\xE2\x82\xAC"), OVK_OK);
    EXPECT_EQ(api.set_ProxyUserName(client, "user"), OVK_OK);
    EXPECT_EQ(api.set_ProxyPort(client, 8080), OVK_OK);
    EXPECT_EQ(api.set_ProxyIP(client, ""), OVK_OK);
    EXPECT_EQ(api.set_GUILangID(client, 1031), OVK_OK);

    EXPECT_EQ(text(api.get_DownloadFile), umlauts);
    EXPECT_EQ(text(api.get_ServiceUrl), "http://127.0.0.1:1/svc");
    EXPECT_EQ(text(api.get_ProxyPassword), "s3cr\xE2\x82\xAC");
    EXPECT_EQ(text(api.get_ProxyUserName), "user");
    EXPECT_EQ(text(api.get_ProxyIP), "");
    int32_t port = 0;
    int16_t language = 0;
    api.get_ProxyPort(client, &port);
    api.get_GUILangID(client, &language);
    EXPECT_EQ(port, 8080);
    EXPECT_EQ(language, 1031);
}

TEST_F(CApiTest, ATooSmallBufferGetsNothingButTheLength) {
    api.set_ServiceUrl(client, "http://127.0.0.1/x");
    char buffer[18] = "untouched";
    size_t length = 0;
    EXPECT_EQ(api.get_ServiceUrl(client, buffer, sizeof buffer, &length), OVK_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 18u);
    EXPECT_STREQ(buffer, "");
    char exact[19];
    EXPECT_EQ(api.get_ServiceUrl(client, exact, sizeof exact, &length), OVK_OK);
    EXPECT_STREQ(exact, "http://127.0.0.1/x");
}

TEST_F(CApiTest, MissingHandlesAndPointersAreRefused) {
    size_t length = 0;
    int32_t value = 0;
    char buffer[4];
    EXPECT_EQ(api.Test(nullptr, "x"), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.Test(client, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.Show(nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.Init(client, "", nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.set_ServiceUrl(client, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.get_ServiceUrl(client, buffer, sizeof buffer, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.get_ServiceUrl(client, nullptr, 4, &length), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.get_ProxyPort(client, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(api.get_ProxyPort(nullptr, &value), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_create(nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_set_events(nullptr, nullptr), OVK_INVALID_ARGUMENT);
    ovk_client_destroy(nullptr);
    EXPECT_STREQ(ovk_client_last_error(nullptr, nullptr), "");

    // The members that download without the wizard: no callback, no list, no Init.
    const auto noNode = [](void*, const char*, const char*, int32_t) {};
    EXPECT_EQ(ovk_client_fields(client, nullptr, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_tree_nodes(client, "", nullptr, nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_select_fields(client, nullptr, 2), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_download(client, nullptr, 1, nullptr, 0), OVK_INVALID_ARGUMENT);
    const char* withAGap[] = {"4711", nullptr};
    EXPECT_EQ(ovk_client_download(client, withAGap, 2, nullptr, 0), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_tree_nodes(client, nullptr, noNode, nullptr), OVK_FAILED);
    EXPECT_EQ(ovk_client_download(client, withAGap, 1, nullptr, 0), OVK_FAILED);
    int32_t number = 0;
    EXPECT_NE(std::string(ovk_client_last_error(client, &number)).find("successful Init"),
              std::string::npos);
    EXPECT_EQ(number, 91);
    EXPECT_EQ(ovk_client_stop_download(nullptr), OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_unfinished_download(client, &value, &value, nullptr),
              OVK_INVALID_ARGUMENT);
    EXPECT_EQ(ovk_client_continue_download(nullptr), OVK_INVALID_ARGUMENT);
}

// Without a download under way or stopped: a stop asks nothing of anybody, there is nothing to
// continue, and continuing says why.
TEST_F(CApiTest, WithoutAStoppedDownloadThereIsNothingToContinue) {
    EXPECT_EQ(ovk_client_stop_download(client), OVK_OK);
    int32_t unfinished = -1, done = -1, total = -1;
    EXPECT_EQ(ovk_client_unfinished_download(client, &unfinished, &done, &total), OVK_OK);
    EXPECT_EQ(unfinished, 0);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(ovk_client_continue_download(client), OVK_FAILED);
    EXPECT_NE(std::string(ovk_client_last_error(client, nullptr)).find("Init"), std::string::npos);
}

TEST_F(CApiTest, TheVersionIsTheOneTheHeadersWereMadeWith) {
    EXPECT_STREQ(ovk_client_version(), OVK_CLIENT_VERSION_TEXT);
    EXPECT_EQ(ovk_client_api_version(), OVK_CLIENT_API_VERSION);
    EXPECT_EQ(OVK_CLIENT_VERSION, OVK_CLIENT_VERSION_MAJOR * 10000 +
                                      OVK_CLIENT_VERSION_MINOR * 100 + OVK_CLIENT_VERSION_PATCH);
}

TEST_F(CApiTest, TestRaisesTheEventOfTheAnswer) {
    Received received;
    const ovk_client_events events = recordingEvents(received);
    ASSERT_EQ(ovk_client_set_events(client, &events), OVK_OK);

    QString title;
    ovk::test::whenMessageBox([&](QMessageBox& box) {
        title = box.windowTitle();
        box.button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(api.Test(client, "Hallo \xC3\xBC"), OVK_OK);
    ovk::test::whenMessageBox([](QMessageBox& box) { box.defaultButton()->click(); });
    EXPECT_EQ(api.Test(client, "again"), OVK_OK);

    EXPECT_EQ(title, "Velmora .NET Testfunktion");
    EXPECT_EQ(received.log, (std::vector<std::string>{"DownloadComplete", "DownloadCancel"}));

    // Without callbacks the events go nowhere.
    ASSERT_EQ(ovk_client_set_events(client, nullptr), OVK_OK);
    ovk::test::whenMessageBox([](QMessageBox& box) { box.defaultButton()->click(); });
    EXPECT_EQ(api.Test(client, "dropped"), OVK_OK);
    EXPECT_EQ(received.log.size(), 2u);
}

TEST_F(CApiTest, InitFindsTheComponentFilesBesideTheLibraryAndReportsTheDocumentsFailure) {
    Received received;
    const ovk_client_events events = recordingEvents(received);
    ovk_client_set_events(client, &events);
    const auto document = std::filesystem::temp_directory_path() / "ovk_c_api_test_download.xml";
    {
        std::ofstream out(document);
        out << "<?xml version=\"1.0\" "
               "encoding=\"UTF-8\"?>\n<Download><System>NOSUCHTYPE</System></Download>\n";
    }
    int32_t result = 0;
    EXPECT_EQ(api.Init(client, document.c_str(), &result), OVK_OK);
    std::filesystem::remove(document);
    // -2 to -4 would mean the component files were not found beside the library.
    EXPECT_LT(result, -4);
    ASSERT_EQ(received.log.size(), 1u);
    EXPECT_EQ(received.log.front().rfind("Exception 17 Init ", 0), 0u) << received.log.front();
    EXPECT_EQ(text(api.get_DownloadFile), document.string());

    EXPECT_EQ(api.Init(client, nullptr, &result), OVK_OK);
    EXPECT_EQ(result, -1);  // the property's document is gone now
}

TEST_F(CApiTest, AClientDestroyedInsideItsOwnCallbackGoesAwayAfterTheCall) {
    Received received;
    received.destroyOnCancel = client;
    const ovk_client_events events = recordingEvents(received);
    ovk_client_set_events(client, &events);
    ovk::test::whenMessageBox([](QMessageBox& box) { box.defaultButton()->click(); });
    EXPECT_EQ(api.Test(client, "x"), OVK_OK);
    EXPECT_EQ(received.log, std::vector<std::string>{"DownloadCancel"});
    client = nullptr;  // already gone
}

}  // namespace
