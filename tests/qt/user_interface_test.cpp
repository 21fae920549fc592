// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPushButton>
#include <string>
#include <vector>

#include "modal_helpers.hpp"
#include "platform/errors.hpp"
#include "qt/form_view.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_user_interface.hpp"

namespace ovk {
namespace {

using test::whenDialog;
using test::whenMessageBox;

// A form whose handlers record what happened and run what the test plugs in.
class ProbeForm : public Form {
  public:
    explicit ProbeForm(std::string name = "frmProbe") : name_(std::move(name)) {}
    std::string_view formName() const override { return name_; }
    void formLoad() override {
        log.push_back(isShown() ? "load shown" : "load hidden");
        if (onLoad) onLoad();
    }
    void formActivate() override {
        QWidget* window = QApplication::activeModalWidget();
        log.push_back(window != nullptr && window->isVisible() ? "activate on screen"
                                                               : "activate off screen");
        if (onActivate) onActivate();
    }
    bool formQueryUnload() override {
        ++queries;
        return queries > refusals;
    }

    std::vector<std::string> log;
    std::function<void()> onLoad;
    std::function<void()> onActivate;
    int queries = 0;
    int refusals = 0;

  private:
    std::string name_;
};

class ShowModalTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }
    QtUserInterface ui;
};

TEST_F(ShowModalTest, LoadsThenActivatesOnceOnScreenAndReturnsWhenTheFormClosesItself) {
    ProbeForm form;
    form.onActivate = [&] { form.close(); };
    ui.showModal(form);
    EXPECT_EQ(form.log, (std::vector<std::string>{"load shown", "activate on screen"}));
    EXPECT_FALSE(form.isShown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ShowModalTest, AFormThatClosesWhileLoadingIsNeverActivated) {
    ProbeForm form;
    form.onLoad = [&] { form.close(); };
    ui.showModal(form);
    EXPECT_EQ(form.log, (std::vector<std::string>{"load shown"}));
}

TEST_F(ShowModalTest, TheWindowFrameAsksTheFormWhichMayRefuse) {
    ProbeForm form;
    form.refusals = 1;
    // The first close is refused and the window stays; the second is accepted.
    form.onActivate = [&] {
        QTimer::singleShot(0, [&] {
            QApplication::activeModalWidget()->close();
            form.log.push_back(form.isShown() ? "still shown" : "closed");
            QApplication::activeModalWidget()->close();
        });
    };
    ui.showModal(form);
    EXPECT_EQ(form.queries, 2);
    EXPECT_EQ(form.log.back(), "still shown");
    EXPECT_FALSE(form.isShown());
}

TEST_F(ShowModalTest, EscapeIsACloseRequestToo) {
    ProbeForm form;
    form.onActivate = [&] {
        QTimer::singleShot(0, [] {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(QApplication::activeModalWidget(), &escape);
        });
    };
    ui.showModal(form);
    EXPECT_EQ(form.queries, 1);
    EXPECT_FALSE(form.isShown());
}

TEST_F(ShowModalTest, AFormWithoutAViewGetsAShellTitledWithItsNameWhoseCloseButtonAsksTheForm) {
    ProbeForm form("frmNoView");
    QString title;
    whenDialog("frmNoView", [&](QWidget& dialog) {
        title = dialog.windowTitle();
        const auto buttons = dialog.findChildren<QPushButton*>();
        ASSERT_EQ(buttons.size(), 1);
        buttons.front()->click();
    });
    ui.showModal(form);
    EXPECT_EQ(title, "frmNoView");
    EXPECT_EQ(form.queries, 1);
    EXPECT_FALSE(form.isShown());
}

TEST_F(ShowModalTest, ARegisteredViewRendersItsForm) {
    struct ProbeView : FormView {
        ProbeView(Form& form, QWidget* parent, int& renders)
            : FormView(form, parent), renders_(renders) {}
        void render() override { ++renders_; }
        int& renders_;
    };
    int renders = 0;
    ui.registerView("frmProbe", [&](Form& form, QWidget* parent) -> std::unique_ptr<FormView> {
        auto view = std::make_unique<ProbeView>(form, parent, renders);
        view->setObjectName("probe view");
        return view;
    });
    ProbeForm form;
    bool viewFound = false;
    form.onActivate = [&] {
        viewFound = QApplication::activeModalWidget()->objectName() == "probe view";
        ui.processPendingEvents();
        form.close();
    };
    ui.showModal(form);
    EXPECT_TRUE(viewFound);
    EXPECT_GE(renders, 2);  // after load and while processing pending events
}

TEST_F(ShowModalTest, AFailingHandlerEndsTheDialogAndReachesTheCaller) {
    ProbeForm form;
    form.onActivate = [] { throw Error(err::InvalidArgument, "boom"); };
    EXPECT_THROW(ui.showModal(form), Error);
    EXPECT_FALSE(form.isShown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The form can be shown again; the old dialog is gone for good.
    form.onActivate = [&] { form.close(); };
    ui.showModal(form);
    EXPECT_FALSE(form.isShown());
}

TEST_F(ShowModalTest, AFormShownFromAnotherSitsOnTopAndBothClose) {
    ProbeForm outer("frmOuter");
    ProbeForm inner("frmInner");
    QWidget* innerParent = nullptr;
    QWidget* outerWindow = nullptr;
    inner.onActivate = [&] {
        innerParent = QApplication::activeModalWidget()->parentWidget();
        inner.close();
    };
    outer.onActivate = [&] {
        outerWindow = QApplication::activeModalWidget();
        ui.showModal(inner);
        outer.close();
    };
    ui.showModal(outer);
    EXPECT_NE(outerWindow, nullptr);
    EXPECT_EQ(innerParent, outerWindow);
    EXPECT_EQ(inner.log.size(), 2u);
    EXPECT_FALSE(outer.isShown());
}

}  // namespace
}  // namespace ovk
