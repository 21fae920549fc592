// SPDX-License-Identifier: MIT
#include "wizard/frm_wiz.hpp"

namespace ovk {

frmWiz::frmWiz(const WizardServices& services, WizardEvents& events)
    : services_(services), events_(events), timTree_(services.timers.createTimer()) {
    timTree_->onTick([this] { timTree_Timer(); });
}

frmWiz::~frmWiz() = default;

ListBox frmWiz::makeList(const char* name, int left, int top) {
    ListBox list;
    list.name = name;
    list.hasCaption = false;
    list.Left = left;
    list.Top = top;
    list.Width = 3840;
    list.Height = 4740;
    return list;
}

TreeView frmWiz::makeTree() {
    TreeView tree;
    tree.name = "tvTree";
    tree.hasCaption = false;
    tree.Left = 120;
    tree.Top = 480;
    tree.Width = 3600;
    tree.Height = 5175;
    return tree;
}

ListView frmWiz::makeListView() {
    ListView list;
    list.name = "lvList";
    list.hasCaption = false;
    list.Left = 3840;
    list.Top = 480;
    list.Width = 7020;
    list.Height = 5175;
    return list;
}

ProgressBar frmWiz::makeProgressBar() {
    ProgressBar bar;
    bar.name = "prgDownload";
    bar.hasCaption = false;
    bar.Visible = false;
    bar.Left = 120;
    bar.Top = 2040;
    bar.Width = 10695;
    bar.Height = 375;
    return bar;
}

std::vector<Control*> frmWiz::controls() {
    return {&Image1,
            &frmSep1,
            &picStep[0],
            &picStep[1],
            &picStep[2],
            &Frame1,
            &cmdCancel,
            &cmdBack,
            &cmdNext,
            &cmdFinish,
            &lblMailToQuorvel,
            &lblLoseMsg,
            &lblConfig,
            &lblProjectNotFoundMsg,
            &lblNewVersion,
            &lblLoading,
            &lblLoadingNodes,
            &lblLoadingArticles,
            &lblProgressArticle,
            &lblTimeLeft,
            &lblStop,
            &lblStopMsg,
            &lblContinueMsg,
            &mnuLvView,
            &mnuLvSelectAll,
            &mnuLvDeselect,
            &lblStep1,
            &lblAll,
            &lstAll,
            &lblSelected,
            &lstSelected,
            &cmdRightOne,
            &cmdRightAll,
            &cmdLeftAll,
            &cmdLeftOne,
            &cmdUp,
            &cmdDown,
            &lblStep2,
            &tvTree,
            &lvList,
            &lblStep3,
            &lblDownloadCount,
            &lblDownloadDescription,
            &lblDownloadCount0,
            &lblDownloadDescription0,
            &prgDownload};
}

}  // namespace ovk
