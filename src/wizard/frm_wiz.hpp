// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ovk/head_cols.hpp"
#include "platform/controls.hpp"
#include "platform/errors.hpp"
#include "platform/settings_store.hpp"
#include "platform/timer.hpp"
#include "platform/user_interface.hpp"
#include "soap/service_client.hpp"
#include "util/background_disposal.hpp"
#include "util/download_items.hpp"
#include "util/open_doc_api.hpp"
#include "wizard/download_loop.hpp"
#include "wizard/list_box.hpp"
#include "wizard/list_view.hpp"
#include "wizard/progress_bar.hpp"
#include "wizard/tree_view.hpp"
#include "xml/document.hpp"

namespace ovk {

class ListReplyReader;

// What the wizard raises into its owner: first the user's requests and the wizard's own events,
// which the owner carries out or passes on to its host, then what the owner alone is told.
class WizardEvents {
  public:
    virtual ~WizardEvents() = default;
    virtual void Finish() = 0;
    virtual void Cancel() = 0;
    virtual void Help() = 0;
    virtual void DownloadItem(const std::string& MaterialId) = 0;
    virtual void DownloadStructure() = 0;
    virtual void NewStepNum(int16_t Stepnumber) = 0;
    virtual void DebugInfo(const std::string& Info) = 0;

    // For the owner alone: a request of the Finish loop or the tree's article load failed.
    // The wizard has already shown the failure to the user; the owner tells its host.
    virtual void HandlerFailed(int32_t number, const std::string& description,
                               const std::string& source) = 0;

    // For the owner alone: before the Finish loop the identifiers it will download,
    // in order, so that the owner can fetch ahead; after it, whatever the outcome, an empty
    // list. Nothing the host sees depends on it.
    virtual void ItemsToCome(const std::vector<std::string>& /*MaterialIds*/) {}

    // For the owner alone: right after DownloadStructure, every article the download
    // will request, in order, so that the owner can keep the plan of the download beside the
    // document and continue it after a stop.
    virtual void PlanDownload(const std::vector<std::string>& /*MaterialIds*/) {}
};

// What the wizard needs from its surroundings besides its owner.
struct WizardServices {
    UserInterface& ui;
    SettingsStore& settings;
    TimerFactory& timers;
    ShellServices shell;
};

// The three-step download wizard as a form model: its controls' state, its fields and its
// handlers. A view renders the controls and forwards the user's clicks to the handlers; a test
// or a script calls the handlers directly. Geometry is in twips, relative to the container.
//
// Steps: 0 choose the search fields, 1 pick articles from the tree and the article list,
// 2 ready for download. The dialog opens on step 1.
class frmWiz : public Form {
  public:
    frmWiz(const WizardServices& services, WizardEvents& events);
    ~frmWiz() override;

    std::string_view formName() const override { return "frmWiz"; }

    // Input fields, set by the owner before the dialog is shown.
    std::shared_ptr<soap::ServiceClient> MySoapobject;
    std::shared_ptr<xml::Document> MyDownloadDoc;
    std::string ActiveProject;
    int16_t GUILangID = 0;
    int16_t ActiveLangId = 0;
    std::string ActivePassword;
    std::string DownloadFile;
    std::string BannerURL;
    std::string MailURL;
    // The stop the Finish loop reads; the owner shares it with whoever else may ask a running
    // download to stop.
    std::shared_ptr<DownloadStop> StopRequest = std::make_shared<DownloadStop>();
    // Set by the owner to continue a stopped download: the dialog then opens on step 2 and runs
    // the Finish loop from the next article at once. Used up when the dialog loads.
    std::optional<DownloadRun> ContinueRun;

    // Private fields, open for views and tests to read.
    int16_t CurrentStep = 0;
    std::unique_ptr<ovk::DownloadItems> DownloadItems;  // absent until the user marks something
    std::unique_ptr<HeadCols> ColumnWidths;             // absent until the first FillList
    std::string CountTemplate;
    int16_t Busy = 0;
    std::string PendingKey;
    // How far the long work of the moment has come, for a view that tells the user while the
    // window waits: the tree being loaded, the rows an article load has read (-1: none runs),
    // the article the download is fetching.
    bool TreeLoading = false;
    int32_t ArticlesRead = -1;
    std::string ArticleDownloading;

    // The form itself: caption and client-area size.
    Control Me{
        .name = "frmWiz", .Caption = "QUORVEL Data Service Client", .Width = 11400, .Height = 8160};

    // Controls on the form.
    Control Image1{.name = "Image1",
                   .hasCaption = false,
                   .Left = 16,
                   .Top = 8,
                   .Width = 11340,
                   .Height = 1500};
    std::string Image1Picture;  // the banner file shown; empty: the design picture
    Control frmSep1{
        .name = "frmSep1", .Caption = "", .Left = 120, .Top = 1560, .Width = 11055, .Height = 135};
    std::array<Control, 3> picStep{
        Control{.name = "picStep(0)",
                .hasCaption = false,
                .Left = 120,
                .Top = 1680,
                .Width = 10980,
                .Height = 5775},
        Control{.name = "picStep(1)",
                .hasCaption = false,
                .Left = 120,
                .Top = 1680,
                .Width = 10980,
                .Height = 5775},
        Control{.name = "picStep(2)",
                .hasCaption = false,
                .Left = 120,
                .Top = 1680,
                .Width = 10980,
                .Height = 5775},
    };
    Control Frame1{
        .name = "Frame1", .Caption = "", .Left = 120, .Top = 7440, .Width = 11055, .Height = 135};
    Control cmdCancel{.name = "cmdCancel",
                      .Caption = "&Cancel",
                      .Left = 240,
                      .Top = 7680,
                      .Width = 1455,
                      .Height = 375};
    Control cmdBack{.name = "cmdBack",
                    .Caption = "&Back",
                    .Left = 6480,
                    .Top = 7680,
                    .Width = 1455,
                    .Height = 375};
    Control cmdNext{.name = "cmdNext",
                    .Caption = "&Next",
                    .Left = 8160,
                    .Top = 7680,
                    .Width = 1455,
                    .Height = 375};
    Control cmdFinish{.name = "cmdFinish",
                      .Caption = "&Finish",
                      .Left = 9840,
                      .Top = 7680,
                      .Width = 1335,
                      .Height = 375};
    Control lblMailToQuorvel{.name = "lblMailToQuorvel",
                             .Caption = "Mail to Quorvel",
                             .Left = 2880,
                             .Top = 7680,
                             .Width = 3255,
                             .Height = 255,
                             .ForeColor = 0x0000C0};
    // Text holders, never shown.
    Control lblLoseMsg{.name = "lblLoseMsg",
                       .Caption =
                           "You have marked Symbols for download. Continue removes all "
                           "symbols from the downloadlist.",
                       .Visible = false};
    Control lblConfig{.name = "lblConfig", .Caption = "Configuration", .Visible = false};
    Control lblProjectNotFoundMsg{.name = "lblProjectNotFoundMsg",
                                  .Caption = "Project or language version not avilable.",
                                  .Visible = false};
    Control lblNewVersion{.name = "lblNewVersion",
                          .Caption = "Updated Client Version available. Install now?",
                          .Visible = false};
    // Text holders of the window's own news, never shown as themselves: what a long load has
    // read so far ("@#@" the count), and where the download stands ("@#@" the article's
    // place, "@all@" the number of articles, "@id@" the article, "@time@" the time left).
    Control lblLoading{.name = "lblLoading", .Caption = "Loading \u2026", .Visible = false};
    Control lblLoadingNodes{
        .name = "lblLoadingNodes", .Caption = "Loading @#@ nodes \u2026", .Visible = false};
    Control lblLoadingArticles{
        .name = "lblLoadingArticles", .Caption = "Loading @#@ articles \u2026", .Visible = false};
    Control lblProgressArticle{
        .name = "lblProgressArticle", .Caption = "Article @#@ of @all@: @id@", .Visible = false};
    Control lblTimeLeft{.name = "lblTimeLeft", .Caption = "About @time@ left", .Visible = false};
    // cmdCancel's caption while Finish downloads, the question that Stop asks ("@#@": the
    // articles saved so far) and the question about continuing a stopped download ("@#@": the
    // articles saved, then all of them).
    Control lblStop{.name = "lblStop", .Caption = "&Stop", .Visible = false};
    Control lblStopMsg{.name = "lblStopMsg",
                       .Caption =
                           "Stop the download? The @#@ articles saved so far are kept, "
                           "and you can continue the download later.",
                       .Visible = false};
    Control lblContinueMsg{.name = "lblContinueMsg",
                           .Caption =
                               "The last download stopped after @#@ of @#@ articles. "
                               "Continue it?",
                           .Visible = false};
    // The list's pop-up menu and its two entries.
    Control mnuLvView{.name = "mnuLvView", .Caption = "List Options", .Visible = false};
    Control mnuLvSelectAll{.name = "mnuLvSelectAll", .Caption = "&Mark All"};
    Control mnuLvDeselect{.name = "mnuLvDeselect", .Caption = "&Reset Marking"};

    // Step 0: the field selection (on picStep(0)).
    Control lblStep1{.name = "lblStep1",
                     .Caption =
                         "Please select the data fields here that correspond to the "
                         "search criteria. In the next step, these fields will be "
                         "displayed as tree structure.",
                     .Left = 120,
                     .Top = 60,
                     .Width = 10695,
                     .Height = 495};
    Control lblAll{.name = "lblAll",
                   .Caption = "All Elements",
                   .Left = 120,
                   .Top = 720,
                   .Width = 3840,
                   .Height = 255};
    ListBox lstAll = makeList("lstAll", 120, 975);
    Control lblSelected{.name = "lblSelected",
                        .Caption = "Selected Elements",
                        .Left = 6240,
                        .Top = 720,
                        .Width = 3840,
                        .Height = 255};
    ListBox lstSelected = makeList("lstSelected", 6240, 960);
    Control cmdRightOne{.name = "cmdRightOne",
                        .Caption = ">",
                        .Left = 4800,
                        .Top = 1920,
                        .Width = 576,
                        .Height = 450};
    Control cmdRightAll{.name = "cmdRightAll",
                        .Caption = ">>",
                        .Left = 4800,
                        .Top = 2640,
                        .Width = 576,
                        .Height = 450};
    Control cmdLeftAll{.name = "cmdLeftAll",
                       .Caption = "<<",
                       .Left = 4800,
                       .Top = 3360,
                       .Width = 576,
                       .Height = 450};
    Control cmdLeftOne{.name = "cmdLeftOne",
                       .Caption = "<",
                       .Left = 4800,
                       .Top = 4080,
                       .Width = 576,
                       .Height = 450};
    Control cmdUp{.name = "cmdUp",
                  .Caption = "",
                  .Left = 10440,
                  .Top = 2745,
                  .Width = 435,
                  .Height = 435};  // a picture, no caption
    Control cmdDown{
        .name = "cmdDown", .Caption = "", .Left = 10440, .Top = 3480, .Width = 435, .Height = 435};

    // Step 1: the tree and the article list (on picStep(1)).
    Control lblStep2{.name = "lblStep2",
                     .Caption = "Please select the elements to be loaded.",
                     .Left = 120,
                     .Top = 120,
                     .Width = 10695,
                     .Height = 255};
    TreeView tvTree = makeTree();
    ListView lvList = makeListView();

    // Step 2: ready for download (on picStep(2)).
    Control lblStep3{.name = "lblStep3",
                     .Caption = "Ready for Download",
                     .Left = 120,
                     .Top = 120,
                     .Width = 10695,
                     .Height = 375};
    Control lblDownloadCount{.name = "lblDownloadCount",
                             .Caption = "You have selected @#@ objects for download.",
                             .Left = 120,
                             .Top = 840,
                             .Width = 10695,
                             .Height = 255};
    Control lblDownloadDescription{
        .name = "lblDownloadDescription",
        .Caption = "Click on 'Finish' to copy the marked objects on your PC.",
        .Left = 120,
        .Top = 1200,
        .Width = 10695,
        .Height = 255};
    Control lblDownloadCount0{.name = "lblDownloadCount0",
                              .Caption = "No objects selected for the download.",
                              .Left = 120,
                              .Top = 840,
                              .Width = 10695,
                              .Height = 255};
    Control lblDownloadDescription0{
        .name = "lblDownloadDescription0",
        .Caption = "Click on 'Finish' to finish or on 'Back' to select objects.",
        .Left = 120,
        .Top = 1200,
        .Width = 10695,
        .Height = 255};
    ProgressBar prgDownload = makeProgressBar();

    // The delayed tree selection.
    Timer& timTree() { return *timTree_; }

    // The form's controls in the form's order (for localisation and for views).
    std::vector<Control*> controls();

    // The owner hears about these through WizardEvents.
    //
    // Frame (navigation, Finish, keys, links).
    void formLoad() override;         // Form_Load
    void formActivate() override;     // runs a continued download
    bool formQueryUnload() override;  // while Busy: asks whether to stop, and refuses
    int16_t SetStep(int16_t Step);
    void cmdBack_Click();
    void cmdNext_Click();
    void cmdFinish_Click();
    void cmdCancel_Click();
    // Whether to continue the download stopped after `done` of `total` articles; asks the user
    // in the wizard's language.
    bool AskContinue(int32_t done, int32_t total);
    void Form_KeyUp(int KeyCode, int Shift = 0);
    // The window was resized on a screen `screenWidthTwips` wide.
    void Form_Resize(int screenWidthTwips);
    void Image1_Click();
    void lblMailToQuorvel_Click();

    // Step 0: field moves.
    void cmdRightOne_Click();
    void cmdRightAll_Click();
    void cmdLeftOne_Click();
    void cmdLeftAll_Click();
    void cmdUp_Click();
    void cmdDown_Click();
    void lstAll_DblClick();
    void lstSelected_DblClick();
    void LoadFieldLists();

    // Step 1: the tree.
    bool LoadTree();
    // The user selected the node at `index` (mouse or keyboard); the view has already made it
    // the tree's selected node.
    void tvTree_NodeClick(int index);
    void timTree_Timer();

    // Step 1: the article list.
    void FillList(const xml::NodeList& Nodelist);
    // Shows the rows a reader filled aside, and the failure that ended the filling, if any.
    void showFilledList(ListReplyReader& reader);
    // A failure of the list, shown as the list shows its failures: "Fehler: <number>".
    void showListFailure(const Error& failure);
    bool CheckHeader(const std::string& HeaderName) const;
    bool IsMarked(const std::string& ID) const;
    // The user checked or cleared the box of the row at `index` (the view has already set
    // the row's Checked state).
    void lvList_ItemCheck(int index);
    enum MouseButton { LeftButton = 1, RightButton = 2, MiddleButton = 4 };
    void lvList_MouseUp(int Button, int Shift, double x, double y);
    void mnuLvSelectAll_Click();
    void mnuLvDeselect_Click();

    // Localisation.
    void LocalizeForm(int16_t LanguageId);

    // Where a view shows the pop-up menu: set by the view; without one (no screen) a right
    // click shows nothing.
    std::function<void(Control& menu, double x, double y)> PopupMenu;
    // Lets a view paint the form right away (Finish shows the progress bar before the loop).
    std::function<void()> Refresh;

  private:
    static ListBox makeList(const char* name, int left, int top);
    static TreeView makeTree();
    static ListView makeListView();
    static ProgressBar makeProgressBar();

    void OpenBannerURL(const std::string& url);
    void OpenMailURL(const std::string& url);
    // The stored field selection lives under the project, keyed by the language number. It is
    // written only while the lists hold the service's structure: lists left empty by a
    // moment's failure of the service are no choice of the user's.
    void storeSelection(const std::string& text);
    std::string storedSelection() const;
    std::string selectionText() const;
    void moveOne(ListBox& source, ListBox& target);
    void moveAll(ListBox& source, ListBox& target, bool selectFirst);
    // Moves the first entry of lstAll with that identifier (compared as numbers) to
    // lstSelected, as a user would.
    void moveFieldById(double id);
    // LoadFieldLists' two halves: every field of the project's structure into lstAll (a box
    // when the service knows no such project), then the user's stored choice, or the service's
    // default choice, into lstSelected.
    void loadAllFields(const std::vector<soap::Argument>& project);
    void loadChosenFields(const std::vector<soap::Argument>& project);
    // Runs a request of the Finish loop or the article load; a failure is shown in a box and
    // told to the owner, and the wizard stays usable. Returns true when the request completed.
    bool guarded(const std::function<void()>& request, const char* source);
    // Shows a failure in a box and tells it to the owner.
    void reportFailure(const Error& failure, const char* source);
    // The Finish loop with the dialog's progress, Stop and failure handling; closes the dialog
    // unless a failure gave the buttons back.
    void runDownload(const DownloadRun& run);
    // Asks whether to stop the running download and, if so, asks the loop to stop.
    void askStop();

    // The articles of the running download saved so far (for the Stop question).
    int32_t downloadPosition_ = 0;
    std::optional<DownloadRun> continuing_;

    friend class ListReplyReader;  // hands the rows a new list replaces to freeing_
    // Frees the rows and nodes the wizard lets go of.
    WizardServices services_;
    WizardEvents& events_;
    BackgroundDisposal freeing_;
    // The bound LoadTree told last during this move to step 1: the fallback to the default
    // choice may be refused alike, and the user hears it once.
    std::string treeRefusal_;
    std::unique_ptr<Timer> timTree_;
    bool structureLoaded_ = false;  // the last LoadFieldLists got the service's structure
};

}  // namespace ovk
