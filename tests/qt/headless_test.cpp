// SPDX-License-Identifier: MIT
// A host without a display, as a C program on a build server sees the component: nothing may
// abort the process, every failure arrives as a status and an Exception event.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ovk/ovk_client.h"

namespace {

struct Received {
    std::vector<std::string> log;
    std::string lastMessage;
    std::vector<std::string> boxes;
    int32_t answer = 0;
};

ovk_client_events recordingEvents(Received& received) {
    ovk_client_events events{};
    events.user_data = &received;
    events.Exception = [](void* data, int32_t number, const char* message, const char* source) {
        auto* r = static_cast<Received*>(data);
        r->log.push_back("Exception " + std::to_string(number) + " " + source);
        r->lastMessage = message;
    };
    events.DownloadComplete = [](void* data) {
        static_cast<Received*>(data)->log.emplace_back("DownloadComplete");
    };
    events.DownloadCancel = [](void* data) {
        static_cast<Received*>(data)->log.emplace_back("DownloadCancel");
    };
    return events;
}

int32_t answerBox(void* data, const ovk_message_box* box) {
    auto* r = static_cast<Received*>(data);
    r->boxes.push_back(std::string(box->title) + " " + std::to_string(box->buttons) + " " +
                       std::to_string(box->default_answer));
    return r->answer;
}

class Headless : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
        ASSERT_EQ(ovk_client_create(&client), OVK_OK);
        events = recordingEvents(received);
        ASSERT_EQ(ovk_client_set_events(client, &events), OVK_OK);
    }
    void TearDown() override { ovk_client_destroy(client); }

    const ovk_client_functions& api = *ovk_client_get_functions();
    ovk_client* client = nullptr;
    Received received;
    ovk_client_events events{};
};

TEST_F(Headless, InitAndShowReportTheMissingDisplayInsteadOfAborting) {
    struct Case {
        const char* display;
        const char* platform;
        const char* says;
    };
    for (const Case c : {Case{nullptr, nullptr, "neither DISPLAY nor WAYLAND_DISPLAY"},
                         Case{":54321", nullptr, "\":54321\" (DISPLAY) does not answer"},
                         Case{nullptr, "xcb", "QT_QPA_PLATFORM=xcb"}}) {
        if (c.display != nullptr) setenv("DISPLAY", c.display, 1);
        if (c.platform != nullptr) setenv("QT_QPA_PLATFORM", c.platform, 1);
        received = {};

        int32_t result = 0;
        EXPECT_EQ(api.Init(client, "/nonexistent/download.xml", &result), OVK_OK) << c.says;
        EXPECT_EQ(result, -990) << c.says;
        EXPECT_EQ(received.log, std::vector<std::string>{"Exception 429 Init"}) << c.says;
        EXPECT_NE(received.lastMessage.find(c.says), std::string::npos) << received.lastMessage;
        EXPECT_NE(received.lastMessage.find("QT_QPA_PLATFORM=offscreen"), std::string::npos);
        EXPECT_NE(received.lastMessage.find("unattended"), std::string::npos);

        received = {};
        EXPECT_EQ(api.Show(client), OVK_FAILED) << c.says;
        int32_t number = 0;
        EXPECT_NE(std::string(ovk_client_last_error(client, &number)), "");
        EXPECT_EQ(received.log.size(), 1u) << c.says;

        // The test box cannot be shown either: reported through its own trap.
        received = {};
        EXPECT_EQ(api.Test(client, "x"), OVK_OK) << c.says;
        EXPECT_EQ(received.log, std::vector<std::string>{"Exception 429 Function Test"});

        for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
    }
}

TEST_F(Headless, UnattendedNeedsNoDisplayAndPutsEveryBoxToTheHost) {
    ASSERT_EQ(api.set_Unattended(client, 1, &answerBox, &received), OVK_OK);
    int32_t unattended = 0;
    ASSERT_EQ(api.get_Unattended(client, &unattended), OVK_OK);
    EXPECT_EQ(unattended, 1);

    // The start-up runs without a window and fails on the document, not on the display.
    int32_t result = 0;
    EXPECT_EQ(api.Init(client, "/nonexistent/download.xml", &result), OVK_OK);
    EXPECT_EQ(result, -1);
    ASSERT_EQ(received.log, std::vector<std::string>{"Exception 53 Init"});

    for (const auto& [answer, event] : std::vector<std::pair<int32_t, std::string>>{
             {6, "DownloadComplete"}, {0, "DownloadCancel"}, {1, "DownloadCancel"}}) {
        received.log.clear();
        received.boxes.clear();
        received.answer = answer;
        EXPECT_EQ(api.Test(client, "x"), OVK_OK);
        EXPECT_EQ(received.boxes, std::vector<std::string>{"Velmora .NET Testfunktion 4 7"});
        EXPECT_EQ(received.log, std::vector<std::string>{event}) << answer;
    }
}

}  // namespace
