// SPDX-License-Identifier: MIT
// The splash as the README shows it, in English and German: rendered offscreen by the real
// view and kept (screenshot_folder.hpp), so the README's pictures come from the window itself.

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QSet>
#include <filesystem>

#include "component/frm_splash.hpp"
#include "component_folder.hpp"
#include "modal_helpers.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_user_interface.hpp"
#include "screenshot_folder.hpp"

namespace ovk {
namespace {

struct Grab : SplashEvents {
    QImage image;
    void InitializeEnvironment(const std::string&, int32_t&, int32_t&) override {
        image = QApplication::activeModalWidget()->grab().toImage();
    }
    void InitWizzard() override {}
};

TEST(Screenshots, TheSplashInEnglishAndGerman) {
    ensureApplication();
    const test::ComponentFolder folder;
    const std::filesystem::path target = test::screenshotFolder();
    for (const auto& [language, name] :
         {std::pair{"1033", "splash-en.png"}, {"1031", "splash-de.png"}}) {
        QtUserInterface ui;
        Grab grab;
        frmSplash splash(ui, grab);
        splash.StartParam = 0;
        splash.UiLanguage(language);
        ui.showModal(splash);

        // The picture's width, and the label below it.
        EXPECT_EQ(grab.image.width(), 677) << name;
        EXPECT_GT(grab.image.height(), 226 + 10) << name;
        QSet<QRgb> colours;
        for (int y = 0; y < grab.image.height(); y += 4)
            for (int x = 0; x < grab.image.width(); x += 4) colours.insert(grab.image.pixel(x, y));
        EXPECT_GT(colours.size(), 16) << name << " looks blank";
        EXPECT_TRUE(grab.image.save(QString::fromStdString((target / name).string()), "PNG"));
        EXPECT_GT(std::filesystem::file_size(target / name), 1000u);
    }
}

}  // namespace
}  // namespace ovk
