// SPDX-License-Identifier: MIT
#include "qt/wizard_view.hpp"

#include <QAccessible>
#include <QApplication>
#include <QFocusFrame>
#include <QFrame>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "qt/accessible_texts.hpp"
#include "qt/banner.hpp"
#include "qt/clickable_label.hpp"
#include "qt/list_view_model.hpp"
#include "qt/readable_palette.hpp"
#include "qt/tree_view_model.hpp"
#include "wizard/frm_wiz.hpp"

// Resources compiled into a static library register themselves only when asked to.
static void initWizardResources() {
    Q_INIT_RESOURCE(ovk_qt);
}

namespace ovk {
namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A label without a buddy shows its caption as the resource file writes captions: "&&" is one
// ampersand and a single "&" only marks a mnemonic, which such a label cannot use.
QString labelText(const std::string& caption) {
    QString shown;
    const QString source = text(caption);
    shown.reserve(source.size());
    for (qsizetype i = 0; i < source.size(); ++i) {
        if (source[i] != u'&') {
            shown += source[i];
        } else if (i + 1 < source.size() && source[i + 1] == u'&') {
            shown += u'&';
            ++i;
        }
    }
    return shown;
}

// The letter a caption marks as its mnemonic ("&Next": n), or nothing.
QChar mnemonicOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&') continue;
        if (caption[i + 1] == u'&') {
            ++i;
            continue;
        }
        return caption[i + 1].toLower();
    }
    return {};
}

// A button whose caption marks no mnemonic (a resource file's "Konfiguration") gets one on its
// first letter that no other button of the window uses, so that every button can be reached
// with Alt in every language.
QString withMnemonic(const QString& caption, const QSet<QChar>& taken) {
    if (!mnemonicOf(caption).isNull()) return caption;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i].isLetter() && !taken.contains(caption[i].toLower()))
            return caption.left(i) + u'&' + caption.mid(i);
    }
    return caption;
}

}  // namespace

WizardView::WizardView(frmWiz& form, QWidget* parent)
    : FormView(form, parent), wiz_(form), scale_(TwipsScale::of(parent ? *parent : *this)) {
    initWizardResources();
    setObjectName(QStringLiteral("frmWiz"));
    // Selected rows stay readable in every palette; the style's own blue is too light for
    // white text.
    setPalette(withReadableSelection(palette()));
    buildCanvas();
    // Children stack in the order they are made: the banner and the separators at the bottom,
    // the pages over them, the frame's buttons and the mail link on top.
    buildBackground();
    buildFieldSelection(pages_[0]);
    buildArticleChoice(pages_[1]);
    buildReadyPage(pages_[2]);
    buildFrame();
    followInput();
    attachToForm();
    render();
}

void WizardView::buildCanvas() {
    designSize_ = QSize(scale_.toPixels(wiz_.Me.Width), scale_.toPixels(wiz_.Me.Height));
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);  // the controls inside take the keyboard, not the frame
    canvas_ = new QWidget;
    canvas_->setFixedSize(designSize_);
    scroll_->setWidget(canvas_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
    boundToScreen();
}

void WizardView::buildBackground() {
    auto* image = new ClickableLabel(canvas_);
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(image, &ClickableLabel::clicked, this,
            [this] { run([this] { wiz_.Image1_Click(); }); });
    image1_ = image;
    bind(wiz_.Image1, image1_, Kind::Picture);

    for (Control* separator : {&wiz_.frmSep1, &wiz_.Frame1}) {
        auto* line = new QFrame(canvas_);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        bind(*separator, line, Kind::Separator);
    }

    for (std::size_t i = 0; i < pages_.size(); ++i) {
        pages_[i] = new QWidget(canvas_);
        bind(wiz_.picStep[i], pages_[i], Kind::Page);
    }
}

void WizardView::buildFieldSelection(QWidget* page) {
    addLabel(wiz_.lblStep1, page);
    QLabel* lblAll = addLabel(wiz_.lblAll, page);
    lstAll_ = addList(wiz_.lstAll, page, &frmWiz::lstAll_DblClick);
    QLabel* lblSelected = addLabel(wiz_.lblSelected, page);
    lstSelected_ = addList(wiz_.lstSelected, page, &frmWiz::lstSelected_DblClick);
    lblAll->setBuddy(lstAll_);
    lblSelected->setBuddy(lstSelected_);
    addButton(wiz_.cmdRightOne, page, &frmWiz::cmdRightOne_Click);
    addButton(wiz_.cmdRightAll, page, &frmWiz::cmdRightAll_Click);
    addButton(wiz_.cmdLeftAll, page, &frmWiz::cmdLeftAll_Click);
    addButton(wiz_.cmdLeftOne, page, &frmWiz::cmdLeftOne_Click);
    addButton(wiz_.cmdUp, page, &frmWiz::cmdUp_Click)
        ->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    addButton(wiz_.cmdDown, page, &frmWiz::cmdDown_Click)
        ->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
}

void WizardView::buildArticleChoice(QWidget* page) {
    addLabel(wiz_.lblStep2, page);
    buildTree(page);
    buildArticleList(page);
}

void WizardView::buildReadyPage(QWidget* page) {
    addLabel(wiz_.lblStep3, page);
    addLabel(wiz_.lblDownloadCount, page);
    addLabel(wiz_.lblDownloadDescription, page);
    addLabel(wiz_.lblDownloadCount0, page);
    addLabel(wiz_.lblDownloadDescription0, page);
    prgDownload_ = new QProgressBar(page);
    prgDownload_->setTextVisible(false);
    bind(wiz_.prgDownload, prgDownload_, Kind::Other);
    buildNews(page);
}

void WizardView::buildFrame() {
    cmdCancel_ = addButton(wiz_.cmdCancel, canvas_, &frmWiz::cmdCancel_Click);
    cmdBack_ = addButton(wiz_.cmdBack, canvas_, &frmWiz::cmdBack_Click);
    cmdNext_ = addButton(wiz_.cmdNext, canvas_, &frmWiz::cmdNext_Click);
    cmdFinish_ = addButton(wiz_.cmdFinish, canvas_, &frmWiz::cmdFinish_Click);
    auto* mail = new ClickableLabel(canvas_);
    connect(mail, &ClickableLabel::clicked, this,
            [this] { run([this] { wiz_.lblMailToQuorvel_Click(); }); });
    bind(wiz_.lblMailToQuorvel, mail, Kind::Label);
}

void WizardView::followInput() {
    // A key released anywhere in the window reaches the form, as F1 must from every control.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

    setTabOrder();

    // The styles' own focus marks are faint on lists and a thin ring on buttons; one frame
    // in the text colour follows the keyboard instead, around whichever control has it.
    focusFrame_ = new QFocusFrame(canvas_);
    focusFollower_ = connect(qApp, &QApplication::focusChanged, this,
                             [this](QWidget*, QWidget* now) { followFocus(now); });
}

void WizardView::attachToForm() {
    wiz_.PopupMenu = [this](Control& menu, double x, double y) { showPopupMenu(menu, x, y); };
    wiz_.Refresh = [this] {
        render();
        repaint();
    };
}

WizardView::~WizardView() {
    // Deleting the controls moves the focus, and the frame that would follow it goes with them.
    disconnect(focusFollower_);
    // The form outlives its window and may be shown again with another one.
    wiz_.PopupMenu = nullptr;
    wiz_.Refresh = nullptr;
    // A window's timers go with it: a leaf chosen just before closing must not call the
    // service for a window that is no longer there.
    wiz_.timTree().stop();
}

QWidget* WizardView::bind(Control& control, QWidget* widget, Kind kind) {
    widget->setObjectName(text(control.name));
    bindings_.push_back({&control, widget, kind});
    return widget;
}

QLabel* WizardView::addLabel(Control& control, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bind(control, label, Kind::Label);
    return label;
}

QPushButton* WizardView::addButton(Control& control, QWidget* parent, void (frmWiz::*handler)()) {
    auto* button = new QPushButton(parent);
    // Enter presses the button that has the focus; elsewhere it presses the step's default.
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this,
            [this, handler] { run([&wiz = wiz_, handler] { (wiz.*handler)(); }); });
    bind(control, button, Kind::Button);
    return button;
}

QListWidget* WizardView::addList(ListBox& list, QWidget* parent, void (frmWiz::*doubleClick)()) {
    auto* widget = new QListWidget(parent);
    widget->setSelectionMode(QAbstractItemView::SingleSelection);
    widget->setUniformItemSizes(true);
    connect(widget, &QListWidget::currentRowChanged, this, [this, &list](int row) {
        if (syncing_ || row < 0) return;
        run([&list, row] { list.ListIndex(row); });
    });
    connect(widget, &QListWidget::itemDoubleClicked, this,
            [this, doubleClick] { run([&wiz = wiz_, doubleClick] { (wiz.*doubleClick)(); }); });
    bind(list, widget, Kind::Other);
    return widget;
}

void WizardView::buildTree(QWidget* page) {
    tvTree_ = new QTreeView(page);
    tvTree_->setHeaderHidden(true);
    tvTree_->setUniformRowHeights(true);
    tvTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tvTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeModel_ = new TreeViewModel(wiz_.tvTree, style()->standardIcon(QStyle::SP_DirClosedIcon),
                                   style()->standardIcon(QStyle::SP_DirOpenIcon), tvTree_);
    tvTree_->setModel(treeModel_);
    connect(tvTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!syncing_) treeCurrentChanged(TreeViewModel::nodeOf(current));
            });
    connect(tvTree_, &QTreeView::clicked, this,
            [this](const QModelIndex& index) { treeClicked(TreeViewModel::nodeOf(index)); });
    auto expansion = [this](bool expanded) {
        return [this, expanded](const QModelIndex& index) {
            const int node = TreeViewModel::nodeOf(index);
            if (node < 0 || static_cast<std::size_t>(node) >= treeExpanded_.size()) return;
            treeExpanded_[static_cast<std::size_t>(node)] = expanded;
            if (syncing_ || node >= wiz_.tvTree.Count()) return;
            // The form keeps what the user opened; the widget already shows it.
            const bool inStep = treeStateRevision_ == wiz_.tvTree.stateRevision();
            wiz_.tvTree.setExpanded(node, expanded);
            if (inStep) treeStateRevision_ = wiz_.tvTree.stateRevision();
        };
    };
    connect(tvTree_, &QTreeView::expanded, this, expansion(true));
    connect(tvTree_, &QTreeView::collapsed, this, expansion(false));
    bind(wiz_.tvTree, tvTree_, Kind::Other);
}

void WizardView::buildArticleList(QWidget* page) {
    lvList_ = new QTreeView(page);
    lvList_->setRootIsDecorated(false);
    lvList_->setItemsExpandable(false);
    lvList_->setUniformRowHeights(true);
    lvList_->setAllColumnsShowFocus(true);
    lvList_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvList_->header()->setStretchLastSection(false);
    lvList_->header()->setSectionsMovable(false);
    lvList_->header()->setSectionResizeMode(QHeaderView::Interactive);
    listModel_ = new ListViewModel(wiz_.lvList, lvList_);
    listModel_->onUserCheck = [this](int row, bool checked) {
        run([this, row, checked] {
            wiz_.lvList.setChecked(row, checked);
            wiz_.lvList_ItemCheck(row);
        });
    };
    lvList_->setModel(listModel_);
    // The widths the user drags are the form's: it carries them over to the next filling.
    connect(lvList_->header(), &QHeaderView::sectionResized, this,
            [this](int column, int /*oldSize*/, int newSize) {
                if (syncing_ || column < 0 ||
                    static_cast<std::size_t>(column) >= wiz_.lvList.columns().size())
                    return;
                wiz_.lvList.setColumnWidth(column, scale_.toTwips(newSize));
            });
    bind(wiz_.lvList, lvList_, Kind::Other);
}

void WizardView::setTabOrder() {
    const std::vector<QWidget*> order{
        image1_,
        lstAll_,
        findChild<QWidget*>(QStringLiteral("cmdRightOne")),
        findChild<QWidget*>(QStringLiteral("cmdRightAll")),
        findChild<QWidget*>(QStringLiteral("cmdLeftAll")),
        findChild<QWidget*>(QStringLiteral("cmdLeftOne")),
        lstSelected_,
        findChild<QWidget*>(QStringLiteral("cmdUp")),
        findChild<QWidget*>(QStringLiteral("cmdDown")),
        tvTree_,
        lvList_,
        cmdBack_,
        cmdNext_,
        cmdFinish_,
        cmdCancel_,
        findChild<QWidget*>(QStringLiteral("lblMailToQuorvel")),
    };
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void WizardView::run(const std::function<void()>& handler) {
    callHandler(handler);
    render();
}

void WizardView::render() {
    syncing_ = true;
    setWindowTitle(text(wiz_.Me.Caption));
    takenMnemonics_.clear();
    for (const Binding& binding : bindings_)
        if (binding.kind == Kind::Button)
            takenMnemonics_.insert(mnemonicOf(text(binding.control->Caption)));
    for (const Binding& binding : bindings_) renderControl(binding);
    renderPicture();
    renderList(*lstAll_, wiz_.lstAll, lstAllRevision_);
    renderList(*lstSelected_, wiz_.lstSelected, lstSelectedRevision_);
    renderTree();
    renderArticleList();
    renderProgress();
    renderAccessibleTexts();
    syncing_ = false;
}

void WizardView::renderControl(const Binding& binding) {
    const Control& control = *binding.control;
    QWidget& widget = *binding.widget;
    switch (binding.kind) {
        case Kind::Page:
            // Pages are switched by moving them out of sight; hidden as well, so that their
            // controls leave the tab order.
            widget.setGeometry(placed(binding, {}));
            widget.setVisible(control.Visible && control.Left >= 0);
            enable(widget, control.Enabled);
            return;
        case Kind::Label: {
            auto& label = static_cast<QLabel&>(widget);
            label.setText(label.buddy() != nullptr ? text(control.Caption)
                                                   : labelText(control.Caption));
            if (control.ForeColor >= 0) {
                QPalette palette = label.palette();
                palette.setColor(QPalette::WindowText,
                                 QColor::fromRgb(static_cast<QRgb>(control.ForeColor)));
                label.setPalette(palette);
            }
            break;
        }
        case Kind::Button:
            static_cast<QPushButton&>(widget).setText(
                withMnemonic(text(control.Caption), takenMnemonics_));
            break;
        case Kind::Picture:
            // The picture decides the size (renderPicture); the form only places it.
            widget.move(scale_.toPixels(control.Left), scale_.toPixels(control.Top));
            widget.setVisible(control.Visible);
            enable(widget, control.Enabled);
            return;
        case Kind::Separator:
        case Kind::Other:
            break;
    }
    if (!control.fontName.empty() && widget.font().family() != text(control.fontName)) {
        QFont font = widget.font();
        font.setFamilies({text(control.fontName)});
        widget.setFont(font);
    }
    // A size hint can cost a layout pass over every row of a list; ask only when needed.
    const bool natural = control.Width <= 0 || control.Height <= 0;
    widget.setGeometry(placed(binding, natural ? widget.sizeHint() : QSize()));
    widget.setVisible(control.Visible);
    enable(widget, control.Enabled);
}

void WizardView::enable(QWidget& widget, bool enabled) {
    if (widget.isEnabled() == enabled) return;
    // A control the form disables for a while (Finish while it downloads) would lose the
    // keyboard focus to the next one for good; it gets it back when it is enabled again.
    if (!enabled) {
        const QWidget* focus = QApplication::focusWidget();
        if (focus != nullptr && (focus == &widget || widget.isAncestorOf(focus)))
            focusBeforeDisabling_ = &widget;
    }
    // Assistive technology takes a control's focus policy for whether it can be focused; a
    // disabled one cannot.
    static const char* const kPolicy = "ovkFocusPolicy";
    if (!enabled && widget.focusPolicy() != Qt::NoFocus) {
        widget.setProperty(kPolicy, static_cast<int>(widget.focusPolicy()));
        widget.setEnabled(false);
        widget.setFocusPolicy(Qt::NoFocus);
        return;
    }
    if (enabled && widget.property(kPolicy).isValid())
        widget.setFocusPolicy(static_cast<Qt::FocusPolicy>(widget.property(kPolicy).toInt()));
    widget.setEnabled(enabled);
    if (enabled && focusBeforeDisabling_ == &widget) {
        widget.setFocus();
        focusBeforeDisabling_ = nullptr;
    }
}

void WizardView::renderPicture() {
    // The banner fills its band, whose size follows the window's, at the screen's density.
    const Control& image = wiz_.Image1;
    const QRect band(
        QPoint(scale_.toPixels(formX_.map(image.Left)), scale_.toPixels(formY_.map(image.Top))),
        QPoint(scale_.toPixels(formX_.map(image.Left + image.Width)) - 1,
               scale_.toPixels(formY_.map(image.Top + image.Height)) - 1));
    const qreal density = devicePixelRatioF();
    if (pictureShown_ && shownPicture_ == wiz_.Image1Picture && shownBand_ == band.size() &&
        shownDensity_ == density)
        return;
    QPixmap picture;
    if (!wiz_.Image1Picture.empty()) picture.load(text(wiz_.Image1Picture));
    // A picture that cannot be read leaves the design picture, as a missing one does.
    image1_->setPixmap(picture.isNull() ? designBanner(band.size(), density)
                                        : bannerFillingBand(picture, band.size(), density));
    image1_->resize(band.size());
    shownPicture_ = wiz_.Image1Picture;
    shownBand_ = band.size();
    shownDensity_ = density;
    pictureShown_ = true;
}

QRect WizardView::placed(const Binding& binding, QSize natural) const {
    const Control& control = *binding.control;
    const bool onPage = binding.widget->parentWidget() != canvas_;
    const ElasticAxis& x = onPage ? pageX_ : formX_;
    const ElasticAxis& y = onPage ? pageY_ : formY_;
    // Lists, the tree and the pages give up length to a small screen; buttons keep their size
    // and move, labels keep their height and wrap in the width they get.
    const bool sized = control.Width > 0 && control.Height > 0;
    const bool stretchesAcross = sized && binding.kind != Kind::Button;
    const bool stretchesDown = sized && (binding.kind == Kind::Page || binding.kind == Kind::Other);
    const double left = x.map(control.Left);
    const double top = y.map(control.Top);
    const int pixelLeft = scale_.toPixels(left);
    const int pixelTop = scale_.toPixels(top);
    if (!sized) return {QPoint(pixelLeft, pixelTop), natural};
    const int right = stretchesAcross ? scale_.toPixels(x.map(control.Left + control.Width))
                                      : pixelLeft + scale_.toPixels(control.Width);
    const int bottom = stretchesDown ? scale_.toPixels(y.map(control.Top + control.Height))
                                     : pixelTop + scale_.toPixels(control.Height);
    return {pixelLeft, pixelTop, right - pixelLeft, bottom - pixelTop};
}

void WizardView::renderList(QListWidget& widget, const ListBox& list, uint64_t& shown) {
    if (shown == list.revision()) return;
    const auto& entries = list.entries();
    bool same = widget.count() == static_cast<int>(entries.size());
    for (int i = 0; same && i < widget.count(); ++i)
        same = widget.item(i)->text() == text(entries[static_cast<std::size_t>(i)].text);
    if (!same) {
        widget.clear();
        QStringList texts;
        texts.reserve(static_cast<qsizetype>(entries.size()));
        for (const ListBox::Entry& entry : entries) texts.push_back(text(entry.text));
        widget.addItems(texts);
    }
    widget.setCurrentRow(list.ListIndex());
    if (list.ListIndex() < 0) widget.clearSelection();
    shown = list.revision();
}

void WizardView::renderTree() {
    const TreeView& tree = wiz_.tvTree;
    const bool rebuilt = treeRevision_ != tree.revision();
    if (rebuilt) {
        tvTree_->setUpdatesEnabled(false);
        treeModel_->rebuild();
        treeExpanded_.assign(static_cast<std::size_t>(tree.Count()), false);
        treeSelected_ = -1;
        treeRevision_ = tree.revision();
    }
    if (rebuilt || treeStateRevision_ != tree.stateRevision()) {
        for (int i = 0; i < tree.Count(); ++i) {
            const auto at = static_cast<std::size_t>(i);
            const bool expanded = tree.node(i).Expanded && !tree.node(i).children.empty();
            if (treeExpanded_[at] == expanded) continue;
            tvTree_->setExpanded(treeModel_->indexOfNode(i), expanded);
            treeExpanded_[at] = expanded;
        }
        if (treeSelected_ != tree.SelectedItem()) {
            const QModelIndex current = treeModel_->indexOfNode(tree.SelectedItem());
            if (current.isValid()) {
                tvTree_->selectionModel()->setCurrentIndex(current,
                                                           QItemSelectionModel::ClearAndSelect);
                tvTree_->scrollTo(current);
            } else {
                tvTree_->selectionModel()->clear();
            }
            treeModel_->selectionChanged(treeSelected_, tree.SelectedItem());
            treeSelected_ = tree.SelectedItem();
        }
        treeStateRevision_ = tree.stateRevision();
    }
    if (rebuilt) tvTree_->setUpdatesEnabled(true);
}

void WizardView::renderArticleList() {
    const ListView& list = wiz_.lvList;
    if (listRevision_ != list.revision()) {
        lvList_->setUpdatesEnabled(false);
        listModel_->rebuild();
        for (std::size_t i = 0; i < list.columns().size(); ++i)
            lvList_->header()->resizeSection(static_cast<int>(i),
                                             scale_.toPixels(list.columns()[i].Width));
        lvList_->setUpdatesEnabled(true);
        listRevision_ = list.revision();
        listCheckRevision_ = list.checkRevision();
    } else if (listCheckRevision_ != list.checkRevision()) {
        listModel_->checksChanged();
        listCheckRevision_ = list.checkRevision();
    }
}

void WizardView::renderProgress() {
    const ProgressBar& bar = wiz_.prgDownload;
    // QProgressBar counts in whole numbers; the form's values are whole in practice.
    prgDownload_->setRange(static_cast<int>(std::lround(bar.Min)),
                           static_cast<int>(std::lround(bar.Max)));
    prgDownload_->setValue(static_cast<int>(std::lround(bar.Value)));
    renderProgressText();
}

void WizardView::renderAccessibleTexts() {
    const int32_t language = wiz_.GUILangID;
    for (const Binding& binding : bindings_) {
        AccessibleText said = wizardAccessibleText(binding.control->name, language);
        // The field lists are called what their labels say.
        if (binding.widget == lstAll_) said.name = labelText(wiz_.lblAll.Caption);
        if (binding.widget == lstSelected_) said.name = labelText(wiz_.lblSelected.Caption);
        if (said.name.isEmpty() && said.description.isEmpty()) continue;
        QWidget& widget = *binding.widget;
        // Every change is news to a screen reader; only real ones are told.
        if (!said.name.isEmpty() && widget.accessibleName() != said.name)
            widget.setAccessibleName(said.name);
        if (widget.accessibleDescription() != said.description)
            widget.setAccessibleDescription(said.description);
        // An arrow or an icon tells the mouse user no more than the screen reader.
        if (binding.kind == Kind::Button && widget.toolTip() != said.name)
            widget.setToolTip(said.name);
    }
    treeModel_->setTitle(tvTree_->accessibleName());

    int step = -1;
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (wiz_.picStep[i].Visible && wiz_.picStep[i].Left >= 0) step = static_cast<int>(i);
    if (step != announcedStep_ && step >= 0) announceStep(step);
}

void WizardView::announceStep(int step) {
    announcedStep_ = step;
    const std::array<const Control*, 3> headings{&wiz_.lblStep1, &wiz_.lblStep2, &wiz_.lblStep3};
    const QString heading = labelText(headings[static_cast<std::size_t>(step)]->Caption);
    // Read one after the other, a heading without a full stop would run into the next line.
    auto sentence = [](QString line) {
        if (!line.isEmpty() && !QStringLiteral(".!?:").contains(line.back())) line += u'.';
        return line;
    };
    QStringList news{wizardStepText(step + 1, 3, wiz_.GUILangID) + QStringLiteral(":"),
                     sentence(heading)};
    // Step 2's lines are what the user came for: how many objects, and what Finish does.
    if (step == 2) {
        for (const Control* line : {&wiz_.lblDownloadCount, &wiz_.lblDownloadDescription,
                                    &wiz_.lblDownloadCount0, &wiz_.lblDownloadDescription0})
            if (line->Visible && !line->Caption.empty())
                news.push_back(sentence(labelText(line->Caption)));
    }
    pages_[static_cast<std::size_t>(step)]->setAccessibleName(heading);
    // Enter anywhere but on a button goes on: Next, and Finish on the last step.
    cmdNext_->setDefault(step < 2);
    cmdFinish_->setDefault(step == 2);
    focusStep();
    // The dialog's description changing is what a screen reader reads out, wherever the
    // focus is.
    setAccessibleDescription(news.join(u' '));
}

QWidget* WizardView::shownPage() const {
    for (QWidget* page : pages_)
        if (page->isVisibleTo(this)) return page;
    return nullptr;
}

void WizardView::focusStep() {
    // Each step starts at its first input control, never on Cancel, where two presses of
    // Space would end the wizard.
    if (announcedStep_ < 0) return;
    const std::array<QWidget*, 3> first{lstAll_, tvTree_, cmdFinish_};
    QWidget* control = first[static_cast<std::size_t>(announcedStep_)];
    if (!control->isEnabled()) return;
    control->setFocus(Qt::OtherFocusReason);
    // While another window is active no focus change is announced; the frame must not wait
    // for one.
    followFocus(control);
}

void WizardView::followFocus(QWidget* focus) {
    const bool ours = focus != nullptr && canvas_->isAncestorOf(focus);
    focusFrame_->setWidget(ours ? focus : nullptr);
}

void WizardView::boundToScreen() {
    QSize size = designSize_;
    if (const QScreen* screen = this->screen()) {
        // The window manager's frame comes on top of the window's own size; before the window
        // is on screen, a title bar is the best guess of it.
        const QSize frame = frameGeometry().size() - geometry().size();
        const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        const QSize margins(std::max(frame.width(), 0), std::max(frame.height(), titleBar));
        size = size.boundedTo(screen->availableGeometry().size() - margins);
    }
    fitInto(size);
    setFixedSize(size);
}

void WizardView::fitInto(QSize size) {
    // Across: the gap between Cancel and Back with the mail link in it, and on the pages the
    // field lists, the tree, the article list and the gaps between the field lists and their
    // buttons. Down: the banner's band, and on the pages the lists' and the tree's height.
    const Control& page = wiz_.picStep[0];
    const Control& image = wiz_.Image1;
    formX_ = ElasticAxis({{wiz_.cmdCancel.Left + wiz_.cmdCancel.Width, wiz_.cmdBack.Left}},
                         scale_.toTwips(designSize_.width() - size.width()));
    formY_ =
        ElasticAxis({{image.Top, image.Top + image.Height},
                     {page.Top + wiz_.lstAll.Top, page.Top + wiz_.tvTree.Top + wiz_.tvTree.Height}},
                    scale_.toTwips(designSize_.height() - size.height()));
    const ListBox& all = wiz_.lstAll;
    const ListBox& chosen = wiz_.lstSelected;
    pageX_ = ElasticAxis({{all.Left, wiz_.tvTree.Left + wiz_.tvTree.Width},
                          {all.Left + all.Width, wiz_.cmdRightOne.Left},
                          {wiz_.cmdRightOne.Left + wiz_.cmdRightOne.Width, chosen.Left},
                          {chosen.Left, chosen.Left + chosen.Width}},
                         formX_.takenBetween(0, wiz_.Me.Width));
    pageY_ = ElasticAxis({{wiz_.lstAll.Top, wiz_.tvTree.Top + wiz_.tvTree.Height}},
                         formY_.takenBetween(page.Top, page.Top + page.Height));
    canvas_->setFixedSize(designSize_ -
                          QSize(scale_.toPixels(formX_.taken()), scale_.toPixels(formY_.taken())));
    // Scroll bars that came up while the window was still growing to its size would otherwise
    // stay, each one making room for the other.
    const bool fits = canvas_->width() <= size.width() && canvas_->height() <= size.height();
    const Qt::ScrollBarPolicy bars = fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    scroll_->setHorizontalScrollBarPolicy(bars);
    scroll_->setVerticalScrollBarPolicy(bars);
}

void WizardView::treeCurrentChanged(int node) {
    ++treeSelections_;
    if (node < 0 || node >= wiz_.tvTree.Count()) return;
    run([this, node] {
        wiz_.tvTree.SelectedItem(node);
        wiz_.tvTree_NodeClick(node);
    });
}

void WizardView::treeClicked(int node) {
    // A click that chose a new node was handled as the choice; one on the node already chosen
    // is a click of its own, as the form expects.
    if (treeSelections_ != treeSelectionsAtPress_ || node < 0 || node >= wiz_.tvTree.Count())
        return;
    run([this, node] {
        wiz_.tvTree.SelectedItem(node);
        wiz_.tvTree_NodeClick(node);
    });
}

void WizardView::showPopupMenu(const Control& menu, double x, double y) {
    if (menu.name != wiz_.mnuLvView.name) return;
    QMenu popup(this);
    popup.setObjectName(text(menu.name));
    popup.setTitle(labelText(menu.Caption));
    popup.setAccessibleName(labelText(menu.Caption));
    QAction* selectAll = nullptr;
    QAction* deselect = nullptr;
    for (auto [entry, action] :
         {std::pair{&wiz_.mnuLvSelectAll, &selectAll}, std::pair{&wiz_.mnuLvDeselect, &deselect}}) {
        if (!entry->Visible) continue;
        *action = popup.addAction(text(entry->Caption));
        (*action)->setObjectName(text(entry->name));
        (*action)->setEnabled(entry->Enabled);
    }
    QAction* first = selectAll != nullptr ? selectAll : deselect;
    if (menuFromKeyboard_ && first != nullptr) {
        // Opened from the keyboard, the menu starts on its first entry, as keyboard menus do
        // elsewhere: the arrows go on from there, and a screen reader hears the entry.
        QTimer::singleShot(0, &popup, [&popup, first] { popup.setActiveAction(first); });
    }
    const QPoint at =
        lvList_->viewport()->mapToGlobal(QPoint(scale_.toPixels(x), scale_.toPixels(y)));
    const QAction* chosen = popup.exec(at);
    // The form is inside its own handler here; its menu entries run within it, since the menu is
    // modal and the form's state must not change under it.
    if (chosen != nullptr && chosen == selectAll) wiz_.mnuLvSelectAll_Click();
    if (chosen != nullptr && chosen == deselect) wiz_.mnuLvDeselect_Click();
}

void WizardView::resizeEvent(QResizeEvent* event) {
    FormView::resizeEvent(event);
    // Before the first show the window has no place yet; showEvent applies the rule then.
    if (isVisible()) applyResizeRule();
}

void WizardView::showEvent(QShowEvent* event) {
    // The window may open on another screen than the one it was made for.
    boundToScreen();
    render();
    FormView::showEvent(event);
    applyResizeRule();
    // Shown, a dialog gives the focus to its first button in the tab order; the step's first
    // input control is where the user starts.
    focusStep();
}

void WizardView::applyResizeRule() {
    const QScreen* screen = this->screen();
    if (screen == nullptr) return;
    // The form knows where the window stands and decides where it goes on a small screen.
    const QRect desk = screen->geometry();
    wiz_.Me.Left = static_cast<int>(std::lround(scale_.toTwips(x() - desk.x())));
    wiz_.Me.Top = static_cast<int>(std::lround(scale_.toTwips(y() - desk.y())));
    const int left = wiz_.Me.Left;
    const int top = wiz_.Me.Top;
    run([this, desk] {
        wiz_.Form_Resize(static_cast<int>(std::lround(scale_.toTwips(desk.width()))));
    });
    if (wiz_.Me.Left != left || wiz_.Me.Top != top)
        move(wiz_.Me.Left != left ? desk.x() + scale_.toPixels(wiz_.Me.Left) : x(),
             wiz_.Me.Top != top ? desk.y() + scale_.toPixels(wiz_.Me.Top) : y());
}

}  // namespace ovk
