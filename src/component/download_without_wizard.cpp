// SPDX-License-Identifier: MIT
// The members a host calls instead of Show to choose and download articles itself. They drive
// the wizard's own form model, never shown, through the handlers a user's clicks reach: the
// tree keeps the wizard's bounds, the field choice is stored where the wizard stores it, and a
// download runs through the very Finish loop the wizard runs, so that nothing a host can do
// this way differs from what a user can do in the window.

#include <set>
#include <string>
#include <vector>

#include "component/client_impl.hpp"
#include "document/resource_items.hpp"

namespace ovk {
namespace {

// One call of a member: refused while the client is busy or not initialised, and the way its
// failures reach the host, as an Exception and as the Error the member throws.
class MemberCall {
  public:
    MemberCall(Client::Impl& impl, const char* member) : impl_(impl), member_(member) {
        // Init and Show hold the forms these members drive, and a member nested in another's
        // event would pull the wizard out from under it.
        if (impl_.runningCalls > 0)
            fail(err::InvalidArgument, "msgClientBusy",
                 "The client is busy with another call; call again when "
                 "that call has returned.");
        if (!impl_.initSucceeded) {
            fail(err::ObjectMissing, "msgNeedsInit",
                 "This call needs a successful Init: call Init with the download document and go "
                 "on only when it returned 0.");
        }
        ++impl_.runningCalls;
        impl_.lastFailure.reset();
    }
    ~MemberCall() { --impl_.runningCalls; }
    MemberCall(const MemberCall&) = delete;
    MemberCall& operator=(const MemberCall&) = delete;

    // Raises the failure as an Exception and throws it, with a text in the host's language.
    [[noreturn]] void fail(int32_t number, std::string_view textName, std::string_view english,
                           std::string_view insert = {}) const {
        const std::string text = ResourceText(impl_.GUILangID, textName, english, insert);
        impl_.raiseException(number, text, member_);
        throw Error(number, text, member_);
    }
    // Throws what the wizard reported while the member ran, if it reported anything.
    void throwReported() const {
        if (impl_.lastFailure) throw *impl_.lastFailure;
    }

    // The wizard for this client's last Init, loaded as the window loads it: the fields, the
    // stored or default choice and the tree over it.
    frmWiz& wizard() const {
        if (impl_.unattendedWizardRun != impl_.initRuns || !impl_.mvarWizForm) {
            frmWiz& wizard = impl_.prepareWizard();
            wizard.formLoad();
            impl_.unattendedWizardRun = impl_.initRuns;
        }
        return *impl_.mvarWizForm;
    }

    int treeNode(const frmWiz& wizard, const std::string& key) const {
        const int index = wizard.tvTree.find(key);
        if (index < 0)
            fail(err::OutOfRange, "msgUnknownNode", "The tree has no node with the key \"@#@\".",
                 key);
        return index;
    }

  private:
    Client::Impl& impl_;
    const char* member_;
};

std::vector<Field> fieldsOf(const ListBox& list) {
    std::vector<Field> fields;
    for (int i = 0; i < list.ListCount(); ++i)
        fields.push_back({static_cast<int32_t>(list.ItemData(i)), list.List(i)});
    return fields;
}

TreeNode treeNodeOf(const TreeView& tree, int index) {
    const TreeView::Node& node = tree.node(index);
    return {tree.Key(index), std::string(node.Text()), static_cast<int32_t>(node.children.size())};
}

// Moves the wizard to the field selection and chooses `fieldIds` there, then Next builds the
// tree and stores the choice, as a user's clicks would.
void chooseFields(const MemberCall& call, frmWiz& wizard, const std::vector<int32_t>& fieldIds) {
    if (fieldIds.empty()) {
        call.fail(err::InvalidArgument, "msgNoFieldChosen",
                  "Choose at least one field to build the tree over.");
    }
    std::set<int32_t> known, chosen;
    for (const ListBox* list : {&wizard.lstAll, &wizard.lstSelected})
        for (int i = 0; i < list->ListCount(); ++i)
            known.insert(static_cast<int32_t>(list->ItemData(i)));
    for (const int32_t id : fieldIds) {
        if (!known.contains(id))
            call.fail(err::InvalidArgument, "msgUnknownField", "The project has no field @#@.",
                      std::to_string(id));
        if (!chosen.insert(id).second)
            call.fail(err::InvalidArgument, "msgFieldTwice", "The field @#@ is chosen twice.",
                      std::to_string(id));
    }
    // The host keeps its own marks; the wizard's would only make it ask to drop them.
    wizard.DownloadItems.reset();
    if (wizard.CurrentStep != 0) wizard.cmdBack_Click();
    wizard.cmdLeftAll_Click();
    for (const int32_t id : fieldIds) {
        for (int i = 0; i < wizard.lstAll.ListCount(); ++i) {
            if (static_cast<int32_t>(wizard.lstAll.ItemData(i)) != id) continue;
            wizard.lstAll.ListIndex(i);
            wizard.lstAll_DblClick();
            break;
        }
    }
    wizard.cmdNext_Click();
}

}  // namespace

FieldChoice Client::Fields() {
    const MemberCall call(*impl_, "Fields");
    frmWiz& wizard = call.wizard();
    if (wizard.lstAll.ListCount() == 0 && wizard.lstSelected.ListCount() == 0) {
        call.throwReported();
        call.fail(err::ObjectMissing, "msgNoStructure",
                  "The service sent no fields for this project and language.");
    }
    return {fieldsOf(wizard.lstAll), fieldsOf(wizard.lstSelected)};
}

void Client::SelectFields(const std::vector<int32_t>& FieldIds) {
    const MemberCall call(*impl_, "SelectFields");
    chooseFields(call, call.wizard(), FieldIds);
    if (call.wizard().tvTree.Count() == 0) {
        call.throwReported();
        call.fail(err::ObjectMissing, "msgNoTree",
                  "The service sent no tree for the chosen fields.");
    }
}

std::vector<TreeNode> Client::TreeNodes(const std::string& ParentKey) {
    const MemberCall call(*impl_, "TreeNodes");
    const frmWiz& wizard = call.wizard();
    const TreeView& tree = wizard.tvTree;
    if (tree.Count() == 0)
        call.fail(err::ObjectMissing, "msgNoTree",
                  "The service sent no tree for the chosen fields.");
    std::vector<TreeNode> nodes;
    if (ParentKey.empty()) {
        for (int i = 0; i < tree.Count(); ++i)
            if (tree.node(i).parent < 0) nodes.push_back(treeNodeOf(tree, i));
        return nodes;
    }
    for (const int child : tree.children(call.treeNode(wizard, ParentKey)))
        nodes.push_back(treeNodeOf(tree, child));
    return nodes;
}

ArticleList Client::LeafArticles(const std::string& LeafKey) {
    const MemberCall call(*impl_, "LeafArticles");
    frmWiz& wizard = call.wizard();
    const int leaf = call.treeNode(wizard, LeafKey);
    if (!wizard.tvTree.node(leaf).children.empty()) {
        call.fail(err::InvalidArgument, "msgNotALeaf",
                  "The node \"@#@\" is no leaf: articles hang below the leaves of the tree.",
                  LeafKey);
    }
    wizard.tvTree.SelectedItem(leaf);
    wizard.tvTree_NodeClick(leaf);
    // The selection has rested as long as the wizard waits: its timer's work is due now.
    wizard.timTree_Timer();
    call.throwReported();
    ArticleList list;
    for (const ListView::Column& column : wizard.lvList.columns())
        list.Columns.push_back(column.Text);
    for (const ListView::Row& row : wizard.lvList.rows())
        list.Articles.push_back({row.Text, row.SubItems});
    return list;
}

void Client::ContinueDownload() {
    const MemberCall call(*impl_, "ContinueDownload");
    const DownloadStop::Running downloading(*impl_->downloadStop);
    try {
        const auto state = impl_->transactions.unfinishedDownload(true);
        if (!state) {
            throw Error(err::InvalidArgument, "The download file " + impl_->DownloadFile +
                                                  " holds no unfinished download to continue.");
        }
        UserInterface& ui = *impl_->services->ui;
        DownloadProgress progress;
        progress.beforeItem = [&ui](int32_t) { ui.processPendingEvents(); };
        try {
            RunDownload(*impl_, impl_->resumeDownload(*state), *impl_->downloadStop, progress);
        } catch (...) {
            // The document is free for the next attempt, which continues from where this
            // one got.
            impl_->releaseDownload();
            throw;
        }
    } catch (...) {
        Error error = currentError();
        error.source = "ContinueDownload";
        impl_->raiseException(error.number, error.description, error.source);
        throw error;
    }
}

void Client::Download(const std::vector<std::string>& ArticleIds,
                      const std::vector<int32_t>& FieldIds) {
    const MemberCall call(*impl_, "Download");
    // StopDownload reaches this download too, and a stop asked before it starts stops it then.
    const DownloadStop::Running downloading(*impl_->downloadStop);
    std::set<std::string> given;
    for (const std::string& id : ArticleIds) {
        if (!given.insert(id).second)
            call.fail(err::InvalidArgument, "msgArticleTwice", "The article @#@ is given twice.",
                      id);
    }
    frmWiz& wizard = call.wizard();
    if (!FieldIds.empty()) {
        chooseFields(call, wizard, FieldIds);
        impl_->lastFailure.reset();
    }
    // The tree is built on the way to the articles' step, and building it drops the marks.
    if (wizard.CurrentStep == 0) wizard.cmdNext_Click();
    // The download list as the article list's check boxes fill it; without any article the
    // wizard has none, and Finish ends as cancelled.
    wizard.DownloadItems.reset();
    if (!ArticleIds.empty()) {
        wizard.DownloadItems = std::make_unique<ovk::DownloadItems>();
        for (const std::string& id : ArticleIds) wizard.DownloadItems->Add(id, "ID_" + id);
    }
    // Finish is offered on the last step.
    if (wizard.CurrentStep == 1) wizard.cmdNext_Click();
    const unsigned completed = impl_->downloadsCompleted;
    const unsigned cancelled = impl_->downloadsCancelled;
    wizard.cmdFinish_Click();
    if (impl_->downloadsCompleted != completed || impl_->downloadsCancelled != cancelled) return;
    // A window would give the user the buttons back to try again or to cancel; a host that
    // wants another try calls again, and until then the document is free for others.
    impl_->releaseDownload();
    call.throwReported();
    call.fail(err::ObjectMissing, "msgDownloadIncomplete",
              "The download did not complete; the download document keeps the articles saved "
              "so far.");
}

}  // namespace ovk
