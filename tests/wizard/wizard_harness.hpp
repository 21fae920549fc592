// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/client_services.hpp"
#include "component/soap_setup.hpp"
#include "component_folder.hpp"
#include "fake_service_client.hpp"
#include "fake_shell.hpp"
#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk::test {

// Everything the wizard tells its owner, as readable lines in order.
struct RecordingWizardEvents : WizardEvents {
    std::vector<std::string> log;
    // Called as a request of the Finish loop arrives; may throw to play a failing service.
    std::function<void(const std::string& request)> onRequest;

    void request(const std::string& line) {
        log.push_back(line);
        if (onRequest) onRequest(line);
    }
    void Finish() override { request("Finish"); }
    void Cancel() override { log.emplace_back("Cancel"); }
    void Help() override { log.emplace_back("Help"); }
    void DownloadItem(const std::string& MaterialId) override {
        request("DownloadItem " + MaterialId);
    }
    void DownloadStructure() override { request("DownloadStructure"); }
    void NewStepNum(int16_t Stepnumber) override {
        log.push_back("NewStepNum " + std::to_string(Stepnumber));
    }
    void DebugInfo(const std::string& Info) override { log.push_back("DebugInfo " + Info); }
    void HandlerFailed(int32_t number, const std::string& description,
                       const std::string&) override {
        log.push_back("HandlerFailed " + std::to_string(number) + " " + description);
    }
};

// A wizard with a screenless user interface, settings in memory, a hand-driven clock and a fake
// shell, for project DEMO in English. `service` is what the steps call; a test sets it to a
// FakeServiceClient or to the real SOAP client (connectTo).
struct WizardHarness {
    ComponentFolder component;
    ScriptedUserInterface ui;
    MemorySettingsStore settings;
    ManualClock clock;
    FakeShell shell;
    FakePlatformInfo platform;
    RecordingWizardEvents events;
    frmWiz wiz{WizardServices{ui, settings, clock, ShellServices{shell, platform, ui}}, events};

    WizardHarness() {
        wiz.ActiveProject = "DEMO";
        wiz.ActivePassword = "demo";
        wiz.ActiveLangId = 1033;
        wiz.GUILangID = 1033;
    }

    // The real SOAP client, set up as the start-up does, talking to `url`.
    void connectTo(const std::string& url) {
        auto client = baseClientServices().makeServiceClient();
        ConnectionSettings connection;
        connection.serviceUrl = url;
        const std::string outcome = SetupSoapClient(*client, connection, settings);
        if (outcome != "OK") throw std::runtime_error("no service: " + outcome);
        wiz.MySoapobject = std::move(client);
    }
    std::shared_ptr<FakeServiceClient> fake() {
        auto service = std::make_shared<FakeServiceClient>();
        wiz.MySoapobject = service;
        return service;
    }

    // The dialog as the user interface opens it; the test then plays the user.
    void open() {
        wiz.markShown();
        wiz.formLoad();
        events.log.clear();
    }
    // A click on the tree node with this key, and the user's half-second wait.
    void chooseLeaf(const std::string& key, int64_t waitMs = 500) {
        const int node = wiz.tvTree.find(key);
        if (node < 0) throw std::runtime_error("no node " + key);
        wiz.tvTree.SelectedItem(node);
        wiz.tvTree_NodeClick(node);
        clock.advance(waitMs);
    }
    void check(int row, bool checked = true) {
        wiz.lvList.setChecked(row, checked);
        wiz.lvList_ItemCheck(row);
    }
    std::vector<std::string> marked() const {
        std::vector<std::string> ids;
        if (wiz.DownloadItems)
            for (const auto& item : *wiz.DownloadItems) ids.push_back(item->ID());
        return ids;
    }
    std::vector<std::string> texts(const ListBox& list) const {
        std::vector<std::string> out;
        for (const auto& entry : list.entries()) out.push_back(entry.text);
        return out;
    }
    std::vector<std::string> headers() const {
        std::vector<std::string> out;
        for (const auto& column : wiz.lvList.columns()) out.push_back(column.Text);
        return out;
    }
    std::vector<std::string> rowTexts() const {
        std::vector<std::string> out;
        for (const auto& row : wiz.lvList.rows()) out.push_back(row.Text);
        return out;
    }
    std::string stored() const { return settings.readText(kSettingsApplication, "DEMO", "1033"); }
};

}  // namespace ovk::test
