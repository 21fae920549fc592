// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "client_harness.hpp"
#include "component/frm_splash.hpp"
#include "component_folder.hpp"

namespace ovk {
namespace {

using test::ClientHarness;
using test::ComponentFolder;

TEST(Client, StartsEmpty) {
    ClientHarness h;
    const Client& c = *h.client;
    EXPECT_EQ(c.GUILangID(), 0);
    EXPECT_EQ(c.ActiveStepNumber(), 0);
    EXPECT_EQ(c.ProxyPort(), 0);
    EXPECT_EQ(c.DownloadFile(), "");
    EXPECT_EQ(c.ServiceUrl(), "");
    EXPECT_EQ(c.ProxyIP(), "");
    EXPECT_EQ(c.ProxyUserName(), "");
    EXPECT_EQ(c.ProxyPassword(), "");
}

TEST(Client, PropertiesStoreTheirValuesUnchanged) {
    ClientHarness h;
    Client& c = *h.client;
    c.DownloadFile(" a b ");
    c.ProxyPort(-5);
    c.GUILangID(1031);
    c.ProxyPassword("p");
    EXPECT_EQ(c.DownloadFile(), " a b ");
    EXPECT_EQ(c.ProxyPort(), -5);
    EXPECT_EQ(c.GUILangID(), 1031);
    EXPECT_EQ(c.ProxyPassword(), "p");
}

TEST(ClientTest, AsksWithTheTestBoxAndRaisesExactlyOneEvent) {
    ClientHarness h;
    h.ui->queueAnswer(MsgBoxAnswer::Yes);
    h.client->Test("abc");
    ASSERT_EQ(h.ui->boxes().size(), 1u);
    const auto& box = h.ui->boxes()[0];
    EXPECT_EQ(box.title, "Velmora .NET Testfunktion");
    EXPECT_EQ(box.text,
              "Der \xC3\xBC"
              "bergebene String ist 'abc'. Ja f\xC3\xBCr DownloadComplete und Nein f\xC3\xBCr "
              "DownloadCancel Klicken");
    EXPECT_EQ(box.buttons, MsgBoxButtons::YesNo);
    EXPECT_EQ(box.icon, MsgBoxIcon::Information);
    EXPECT_EQ(box.defaultButton, MsgBoxDefault::Second);
    EXPECT_EQ(h.events.log, std::vector<std::string>{"DownloadComplete"});

    h.client->Test("x");  // the default button: No
    h.ui->queueAnswer(MsgBoxAnswer::Cancel);
    h.client->Test("y");
    EXPECT_EQ(h.events.log,
              (std::vector<std::string>{"DownloadComplete", "DownloadCancel", "DownloadCancel"}));
}

TEST(ClientTest, AHostHandlerThatThrowsDoesNotEscape) {
    struct Throwing : ClientEvents {
        void DownloadCancel() override { throw std::runtime_error("host bug"); }
    } throwing;
    ClientHarness h;
    h.client->setEvents(&throwing);
    EXPECT_NO_THROW(h.client->Test("x"));
}

struct SplashRecorder : SplashEvents {
    std::vector<std::string> raised;
    void InitializeEnvironment(const std::string& file, int32_t& Result, int32_t& Init) override {
        raised.push_back("InitializeEnvironment " + file);
        Result = 5;
        Init = 7;
    }
    void InitWizzard() override { raised.emplace_back("InitWizzard"); }
};

TEST(Splash, RaisesTheEventItsStartParamNamesAfterPaintingOnceThenCloses) {
    ScriptedUserInterface ui;
    SplashRecorder recorder;
    frmSplash splash(ui, recorder);
    splash.DownloadFile = "doc.xml";
    ui.showModal(splash);
    EXPECT_EQ(recorder.raised, std::vector<std::string>{"InitializeEnvironment doc.xml"});
    EXPECT_EQ(splash.Init, 7);
    EXPECT_EQ(splash.Result, 5);
    EXPECT_EQ(ui.pendingEventRuns(), 1);
    EXPECT_FALSE(splash.isShown());

    splash.StartParam = 1;
    ui.showModal(splash);
    splash.StartParam = 2;
    ui.showModal(splash);
    EXPECT_EQ(recorder.raised,
              (std::vector<std::string>{"InitializeEnvironment doc.xml", "InitWizzard"}));
    EXPECT_FALSE(splash.isShown());
}

TEST(Splash, LocalisesFromTheResourceFileWithTheEnglishFallback) {
    ComponentFolder component;
    component.write(
        "ovk_client.xml",
        "<Ressources><Language ID='1033'><Item Name='lblWarning' Caption='Please wait'/>"
        "<Item Name='Image1' Caption='ignored'/><Item Name='lblNoSuchControl' "
        "Caption='x'/></Language>"
        "<Language ID='1031'><Item Name='lblWarning' Caption='Bitte "
        "warten'/></Language></Ressources>");
    ScriptedUserInterface ui;
    SplashRecorder recorder;
    frmSplash splash(ui, recorder);
    EXPECT_EQ(splash.lblWarning.Caption, "Moment bitte ...");
    EXPECT_EQ(splash.lblWarning.fontName, "Times New Roman");
    splash.UiLanguage("1031");
    EXPECT_EQ(splash.lblWarning.Caption, "Bitte warten");
    splash.UiLanguage("0");
    EXPECT_EQ(splash.lblWarning.Caption, "Please wait");
    EXPECT_EQ(splash.UiLanguage(), "0");

    component.remove("ovk_client.xml");
    frmSplash plain(ui, recorder);
    plain.UiLanguage("1031");
    EXPECT_EQ(plain.lblWarning.Caption, "Moment bitte ...");
}

TEST(Splash, AKeyPressClosesIt) {
    ScriptedUserInterface ui;
    SplashRecorder recorder;
    frmSplash splash(ui, recorder);
    splash.StartParam = 9;  // raises nothing
    ui.queueAction([](Form&) {});
    splash.markShown();
    splash.Form_KeyPress('x');
    EXPECT_FALSE(splash.isShown());
}

}  // namespace
}  // namespace ovk
