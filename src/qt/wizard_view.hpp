// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "qt/elastic_axis.hpp"
#include "qt/form_view.hpp"
#include "qt/twips.hpp"

class QFocusFrame;
class QKeyEvent;
class QLabel;
class QListWidget;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;
class QTreeView;
class QWidget;

namespace ovk {

class frmWiz;
class ListBox;
class ListViewModel;
class TreeViewModel;

// The download wizard's window. It draws every control of the form model where the form
// places it (twips converted with the screen's DPI) and sends the user's clicks, keys and
// checks to the form's handlers; what they do is the form's business. Lists, the tree and the
// article list are rebuilt only when their model's revision moved, so catalogues of hundreds of
// thousands of nodes and tens of thousands of articles cost one pass per change.
//
// It is usable with a screen reader and the keyboard alone: every control has an accessible
// name in the wizard's language, the two links take the focus and open on Enter or Space, a
// frame in the text colour follows the focus, selected rows read at 4.5:1, a new step is
// announced through the dialog's accessible description, the Menu key and Shift+F10 open the
// article list's menu. Each step opens on its first input control; Enter presses the focused
// button, elsewhere Next (Finish on the last step); every button has a mnemonic.
//
// On a screen smaller than the form, the lists, the tree and the banner give up length before
// the window scrolls. Long work is told in words: what a load has read, in the place of what it
// fills, and the article the download fetches with the time left.
//
// While it exists it shows the form's pop-up menu and lets the form repaint at once (the
// form's PopupMenu and Refresh hooks); it removes both when it goes.
class WizardView : public FormView {
    Q_OBJECT

  public:
    WizardView(frmWiz& form, QWidget* parent = nullptr);
    ~WizardView() override;

    void render() override;
    void busyChanged(bool busy) override;

  protected:
    // During a download, closing the window asks whether to stop it.
    bool keepsCloseWhileWaiting() const override { return true; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    enum class Kind { Page, Label, Button, Separator, Picture, Other };
    struct Binding {
        Control* control;
        QWidget* widget;
        Kind kind;
    };

    // The window as the constructor builds it, from the bottom of the stack up.
    void buildCanvas();
    void buildBackground();  // the banner, the separators, the step pages
    void buildFieldSelection(QWidget* page);
    void buildArticleChoice(QWidget* page);  // the tree and the article list
    void buildReadyPage(QWidget* page);      // ready for download, and its progress
    void buildFrame();                       // the frame's buttons and the mail link
    void followInput();                      // keys, tab order, the focus frame
    void attachToForm();                     // the form's pop-up menu and repaint hooks

    QWidget* bind(Control& control, QWidget* widget, Kind kind);
    QLabel* addLabel(Control& control, QWidget* parent);
    QPushButton* addButton(Control& control, QWidget* parent, void (frmWiz::*handler)());
    QListWidget* addList(ListBox& list, QWidget* parent, void (frmWiz::*doubleClick)());
    void buildTree(QWidget* page);
    void buildArticleList(QWidget* page);
    void setTabOrder();
    // The window keeps the form's size where the screen allows, and scrolls where it does not.
    void boundToScreen();
    // Lays the form out for a window of `size`: what is missing from the design size is taken
    // from the lists, the tree and the banner, and only what they cannot give is scrolled.
    void fitInto(QSize size);
    QRect placed(const Binding& binding, QSize natural) const;
    // The form's resize rule: it may move the window to the top of a small screen.
    void applyResizeRule();

    // Runs a handler of the form and shows what it changed.
    void run(const std::function<void()>& handler);

    void renderControl(const Binding& binding);
    void enable(QWidget& widget, bool enabled);
    void renderPicture();
    void renderList(QListWidget& widget, const ListBox& list, uint64_t& shown);
    void renderTree();
    void renderArticleList();
    void renderProgress();
    // Names and descriptions for screen readers, in the wizard's language, and the news of a
    // new step.
    void renderAccessibleTexts();
    void announceStep(int step);
    void focusStep();
    void followFocus(QWidget* focus);
    // The user's keys and clicks, as the form takes them (wizard_input.cpp).
    void keyReleased(QObject* watched, const QKeyEvent& key);
    void listMouseReleased(const QMouseEvent& mouse);
    static bool asksForMenu(const QKeyEvent& key);
    void openListMenuFromKeyboard();

    // News of long work (wizard_view_news.cpp): a text in the place of what loads, and where
    // the download stands.
    void buildNews(QWidget* downloadPage);
    QWidget* shownPage() const;
    void showBusyText();
    void renderProgressText();

    void treeCurrentChanged(int node);
    void treeClicked(int node);
    void showPopupMenu(const Control& menu, double x, double y);

    frmWiz& wiz_;
    TwipsScale scale_;
    QSize designSize_;
    QScrollArea* scroll_ = nullptr;
    QWidget* canvas_ = nullptr;  // holds every control at the form's coordinates
    QFocusFrame* focusFrame_ = nullptr;
    QMetaObject::Connection focusFollower_;
    int announcedStep_ = -1;
    bool menuFromKeyboard_ = false;
    std::vector<Binding> bindings_;
    QSet<QChar> takenMnemonics_;  // by the buttons' own captions
    std::array<QWidget*, 3> pages_{};
    QLabel* image1_ = nullptr;
    std::string shownPicture_;
    QSize shownBand_;
    qreal shownDensity_ = 0;
    ElasticAxis formX_, formY_;  // the form's own controls
    ElasticAxis pageX_, pageY_;  // the controls on the step pages
    bool pictureShown_ = false;

    QListWidget* lstAll_ = nullptr;
    QListWidget* lstSelected_ = nullptr;
    uint64_t lstAllRevision_ = UINT64_MAX;
    uint64_t lstSelectedRevision_ = UINT64_MAX;

    QTreeView* tvTree_ = nullptr;
    TreeViewModel* treeModel_ = nullptr;
    uint64_t treeRevision_ = UINT64_MAX;
    uint64_t treeStateRevision_ = UINT64_MAX;
    std::vector<bool> treeExpanded_;  // what the widget shows, per node
    int treeSelected_ = -1;
    int treeSelectionsAtPress_ = -1;  // to tell a click on the current node from a new choice
    int treeSelections_ = 0;

    QTreeView* lvList_ = nullptr;
    ListViewModel* listModel_ = nullptr;
    uint64_t listRevision_ = UINT64_MAX;
    uint64_t listCheckRevision_ = UINT64_MAX;

    QProgressBar* prgDownload_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdBack_ = nullptr;
    QPushButton* cmdNext_ = nullptr;
    QPushButton* cmdFinish_ = nullptr;

    QLabel* busyText_ = nullptr;
    QTimer* busyWatch_ = nullptr;
    QElapsedTimer busySince_;
    QLabel* progressText_ = nullptr;
    QElapsedTimer downloadClock_;
    long long firstPlaceTimed_ = 0;

    QPointer<QWidget> focusBeforeDisabling_;

    // Set while the view changes widgets itself, so their signals are not taken for the user's.
    bool syncing_ = false;
};

}  // namespace ovk
