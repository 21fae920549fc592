// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdlib>

#include "component/client_impl.hpp"
#include "component/client_services.hpp"
#include "component/frm_splash.hpp"
#include "component_folder.hpp"
#include "modal_helpers.hpp"
#include "ovk/client.hpp"
#include "qt/desktop_client_services.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_user_interface.hpp"
#include "ref_service.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

using test::whenDialog;
using test::whenMessageBox;

// Counts the splash form's events and looks at the window while the work runs.
struct SplashProbe : SplashEvents {
    int initializeEnvironment = 0;
    int initWizzard = 0;
    std::string downloadFile;
    bool windowPaintedBefore = false;
    std::function<void(QWidget& window)> whileWorking;
    int paints = 0;

    void InitializeEnvironment(const std::string& DownloadFile, int32_t& Result,
                               int32_t& Init) override {
        ++initializeEnvironment;
        downloadFile = DownloadFile;
        windowPaintedBefore = paints > 0;
        Result = -7;
        Init = -7;
        if (whileWorking) whileWorking(*QApplication::activeModalWidget());
    }
    void InitWizzard() override { ++initWizzard; }
};

// Counts the paint events of the splash window.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(int& paints) : paints_(paints) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->objectName() == "frmSplash") ++paints_;
        return false;
    }

  private:
    int& paints_;
};

const char* const kResources = R"(<?xml version="1.0" encoding="UTF-8"?>
<Ressources>
  <Language ID="1033"><Item Name="lblWarning" Caption="One moment please ..."/></Language>
  <Language ID="1031"><Item Name="lblWarning" Caption="Einen Augenblick bitte &lt;b&gt;..."/>
    <Item Name="lblNoSuchControl" Caption="ignored"/></Language>
</Ressources>
)";

class SplashViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        folder.write("ovk_client.xml", kResources);
    }
    test::ComponentFolder folder;
    QtUserInterface ui;
    SplashProbe probe;
    frmSplash splash{ui, probe};
};

TEST_F(SplashViewTest, StartParam0PaintsTheWindowThenRaisesInitializeEnvironmentOnceAndCloses) {
    const PaintCounter counter(probe.paints);
    splash.StartParam = 0;
    splash.DownloadFile = "/data/download.xml";
    bool visibleWhileWorking = false;
    probe.whileWorking = [&](QWidget& window) {
        visibleWhileWorking = window.isVisible() && window.objectName() == "frmSplash";
    };
    ui.showModal(splash);

    EXPECT_EQ(probe.initializeEnvironment, 1);
    EXPECT_EQ(probe.initWizzard, 0);
    EXPECT_EQ(probe.downloadFile, "/data/download.xml");
    EXPECT_TRUE(probe.windowPaintedBefore);
    EXPECT_TRUE(visibleWhileWorking);
    EXPECT_EQ(splash.Init, -7);
    EXPECT_FALSE(splash.isShown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(SplashViewTest, ShowsThePictureAndTheLocalisedCaptionInTheDesktopsFont) {
    splash.StartParam = 0;
    splash.UiLanguage("1031");
    QString caption;
    QString family;
    QSize picture;
    Qt::TextFormat format = Qt::RichText;
    probe.whileWorking = [&](QWidget& window) {
        const auto* label = window.findChild<QLabel*>("lblWarning");
        const auto* image = window.findChild<QLabel*>("Image1");
        ASSERT_NE(label, nullptr);
        ASSERT_NE(image, nullptr);
        caption = label->text();
        family = label->font().families().value(0);
        format = label->textFormat();
        picture = image->pixmap().size();
    };
    ui.showModal(splash);
    EXPECT_EQ(caption.toStdString(), "Einen Augenblick bitte <b>...");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(family, QApplication::font().families().value(0));
    EXPECT_EQ(picture, QSize(677, 226));
}

// What a user sees on a German desktop: a frameless splash in the middle of the screen, and the
// boxes of the start-up centred over it with Qt's own buttons in German.
TEST_F(SplashViewTest, OpensFramelessAndCentredWithGermanBoxesCentredOverIt) {
    splash.StartParam = 0;
    ui.useLanguage(1031);
    Qt::WindowFlags flags;
    QPoint splashCentre;
    QPoint screenCentre;
    QPoint boxCentre;
    QWidget* boxParent = nullptr;
    QStringList buttons;
    MsgBoxAnswer answer = MsgBoxAnswer::Ok;
    probe.whileWorking = [&](QWidget& window) {
        flags = window.windowFlags();
        splashCentre = window.frameGeometry().center();
        screenCentre = window.screen()->availableGeometry().center();
        whenMessageBox([&](QMessageBox& box) {
            boxCentre = box.frameGeometry().center();
            boxParent = box.parentWidget();
            for (QAbstractButton* button : box.buttons()) buttons << button->text();
            box.defaultButton()->click();
        });
        answer = ui.msgBox("Neue Version?", "New Version", MsgBoxButtons::YesNo,
                           MsgBoxIcon::Question, MsgBoxDefault::Second);
        boxParent = boxParent == &window ? boxParent : nullptr;
    };
    ui.showModal(splash);
    ui.useLanguage(1033);

    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_LE((splashCentre - screenCentre).manhattanLength(), 2);
    EXPECT_NE(boxParent, nullptr) << "the box belongs to the splash";
    EXPECT_LE((boxCentre - splashCentre).manhattanLength(), 4);
    buttons.replaceInStrings("&", "");
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Ja", "Nein"}));
    EXPECT_EQ(answer, MsgBoxAnswer::No);
}

TEST_F(SplashViewTest, AKeyPressClosesTheWindowWhileTheWorkGoesOn) {
    splash.StartParam = 0;
    bool closedByKey = false;
    probe.whileWorking = [&](QWidget& window) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QCoreApplication::sendEvent(&window, &key);
        closedByKey = !splash.isShown() && !window.isVisible();
    };
    ui.showModal(splash);
    EXPECT_TRUE(closedByKey);
    EXPECT_EQ(probe.initializeEnvironment, 1);
}

TEST_F(SplashViewTest, AModifierAloneIsNoKeyPress) {
    splash.StartParam = 0;
    bool stillShown = false;
    probe.whileWorking = [&](QWidget& window) {
        QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
        QCoreApplication::sendEvent(&window, &shift);
        stillShown = splash.isShown();
    };
    ui.showModal(splash);
    EXPECT_TRUE(stillShown);
}

std::unique_ptr<Client::Impl> desktopClient(const test::TempDir& settings) {
    return std::make_unique<Client::Impl>(
        std::make_shared<const ClientServices>(desktopClientServices(settings.path())));
}

// The whole desktop path of Show after a real Init: the splash raises InitWizzard, and the
// wizard opens in its place, the splash hidden, until the user closes it.
TEST(DesktopClient, ShowOpensTheWizardOverTheSplashAndReturnsWhenItCloses) {
    ensureApplication();
    const test::ComponentFolder folder;
    const test::TempDir settings;
    const test::TempDir work;
    const test::RefService service;
    Client client(desktopClient(settings));
    const auto document = work.write(
        "download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                            "</URL><ProjectID>DEMO</ProjectID>"
                                                            "<Language>English</Language>"
                                                            "<Password>demo</Password>"));
    ASSERT_EQ(client.Init(document.string()), 0);
    bool splashHidden = false;
    int offCentre = -1;
    bool atTop = false;
    QString title;
    whenDialog("frmWiz", [&](QWidget& wizard) {
        splashHidden = wizard.parentWidget() != nullptr &&
                       wizard.parentWidget()->objectName() == "frmSplash" &&
                       !wizard.parentWidget()->isVisible();
        if (splashHidden)
            offCentre = std::abs(wizard.geometry().center().x() -
                                 wizard.parentWidget()->geometry().center().x());
        title = wizard.windowTitle();
        // The form keeps to the top of a screen no wider than 800 pixels (at 96 dpi).
        const QRect screen = wizard.screen()->geometry();
        atTop = (wizard.frameGeometry().top() == screen.top()) == (screen.width() <= 800);
        wizard.close();
    });
    client.Show();
    EXPECT_TRUE(splashHidden);
    // Centred over the splash (a window manager may nudge it a little).
    EXPECT_LE(offCentre, 16);
    EXPECT_TRUE(atTop);
    EXPECT_EQ(title, "QUORVEL Data Service Client");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A service that takes its time must not leave a black window: the splash repaints while the
// start-up waits for each reply.
TEST(DesktopClient, TheSplashKeepsPaintingWhileASlowServiceAnswers) {
    ensureApplication();
    const test::ComponentFolder folder;
    const test::TempDir settings;
    const test::TempDir work;
    const test::RefService service({"--latency-ms", "300"});
    Client client(desktopClient(settings));
    const auto document = work.write(
        "download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                            "</URL><ProjectID>DEMO</ProjectID>"
                                                            "<Language>English</Language>"
                                                            "<Password>demo</Password>"));
    int paints = 0;
    const PaintCounter counter(paints);
    // What a window system does to a window that is uncovered: it asks for a repaint.
    QTimer exposer;
    QObject::connect(&exposer, &QTimer::timeout, [] {
        if (QWidget* splash = QApplication::activeModalWidget()) splash->update();
    });
    exposer.start(50);

    ASSERT_EQ(client.Init(document.string()), 0);
    exposer.stop();
    // Several calls of 300 ms each; without repainting while they wait, the window would be
    // painted once, as it opened.
    EXPECT_GE(paints, 10);
}

TEST(DesktopClient, TestAnsweredWithTheDefaultButtonRaisesDownloadCancel) {
    ensureApplication();
    const test::TempDir settings;
    Client client(desktopClient(settings));
    struct Events : ClientEvents {
        std::vector<std::string> log;
        void DownloadComplete() override { log.emplace_back("DownloadComplete"); }
        void DownloadCancel() override { log.emplace_back("DownloadCancel"); }
    } events;
    client.setEvents(&events);
    QString text;
    whenMessageBox([&](QMessageBox& box) {
        text = box.text();
        box.defaultButton()->click();
    });
    client.Test("abc");
    EXPECT_TRUE(text.contains("'abc'"));
    EXPECT_EQ(events.log, std::vector<std::string>{"DownloadCancel"});
}

}  // namespace
}  // namespace ovk
