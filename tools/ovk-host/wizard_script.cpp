#include "wizard_script.hpp"

#include <string_view>

#include "wizard/frm_wiz.hpp"

namespace ovk::host {
namespace {

using Kind = WizardAction::Kind;

// A user waits this long on a leaf before its articles come.
constexpr int64_t kTreeDelayMs = 500;

std::vector<std::string> split(const std::string& text, char separator, bool escapes) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (escapes && text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text[++i];
        } else if (text[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text.empty() ? "(nothing)" : text;
}

frmWiz& wizardOf(Form& form) {
    auto* wizard = dynamic_cast<frmWiz*>(&form);
    if (wizard == nullptr)
        throw ScriptError("the wizard script ran on the form " + std::string(form.formName()));
    return *wizard;
}

void chooseFields(frmWiz& wiz, const std::string& names) {
    if (wiz.CurrentStep != 0) wiz.cmdBack_Click();  // "Configuration"
    if (wiz.CurrentStep != 0)
        throw ScriptError("--fields: the wizard did not go back to the field selection");
    wiz.cmdLeftAll_Click();
    for (const std::string& name : split(names, ';', false)) {
        int found = -1;
        for (int i = 0; i < wiz.lstAll.ListCount() && found < 0; ++i)
            if (wiz.lstAll.List(i) == name) found = i;
        if (found < 0) {
            std::vector<std::string> offered;
            for (const auto& entry : wiz.lstAll.entries()) offered.push_back(entry.text);
            for (const auto& entry : wiz.lstSelected.entries()) offered.push_back(entry.text);
            throw ScriptError("--fields: the project has no field \"" + name +
                              "\"; it has: " + joined(offered));
        }
        wiz.lstAll.ListIndex(found);
        wiz.lstAll_DblClick();
    }
    wiz.cmdNext_Click();
}

std::vector<std::string> childPaths(const TreeView& tree, const std::vector<int>& children,
                                    const std::string& prefix) {
    std::vector<std::string> paths;
    for (int child : children) paths.push_back(prefix + std::string(tree.node(child).Text()));
    return paths;
}

void chooseLeaf(frmWiz& wiz, ManualClock& clock, const std::string& path) {
    const TreeView& tree = wiz.tvTree;
    if (tree.Count() == 0) throw ScriptError("--leaf " + path + ": the tree is empty");
    std::vector<std::string> values = split(path, '/', true);
    // The root stands above every path; naming it is allowed but not needed.
    int at = 0;
    if (!values.empty() && values.front() == tree.node(0).Text()) {
        bool childOfSameName = false;
        for (int child : tree.node(0).children)
            childOfSameName = childOfSameName || tree.node(child).Text() == values.front();
        if (!childOfSameName) values.erase(values.begin());
    }
    std::string walked;
    for (const std::string& value : values) {
        int next = -1;
        for (int child : tree.node(at).children) {
            if (tree.node(child).Text() == value) {
                next = child;
                break;
            }
        }
        if (next < 0) {
            throw ScriptError("--leaf " + path + ": nothing called \"" + value + "\" under " +
                              (walked.empty() ? "the root" : "\"" + walked + "\"") +
                              "; there is: " +
                              joined(childPaths(tree, tree.node(at).children,
                                                walked.empty() ? "" : walked + "/")));
        }
        walked += (walked.empty() ? "" : "/") + value;
        at = next;
    }
    if (!tree.node(at).children.empty()) {
        throw ScriptError("--leaf " + path + " is not a leaf; below it there is: " +
                          joined(childPaths(tree, tree.node(at).children, walked + "/")));
    }
    wiz.tvTree.SelectedItem(at);
    wiz.tvTree_NodeClick(at);
    clock.advance(kTreeDelayMs);
}

void markRows(frmWiz& wiz, const std::string& which, bool checked) {
    const char* option = checked ? "--mark" : "--unmark";
    if (which == "all") {
        if (checked)
            wiz.mnuLvSelectAll_Click();
        else
            wiz.mnuLvDeselect_Click();
        return;
    }
    for (const std::string& id : split(which, ',', false)) {
        const int row = wiz.lvList.findRow("NO_" + id);
        if (row < 0) {
            std::vector<std::string> shown;
            for (const auto& r : wiz.lvList.rows()) shown.push_back(r.Text);
            throw ScriptError(std::string(option) + ": the list shows no article \"" + id +
                              "\"; it shows: " + joined(shown));
        }
        // A click on a box that already shows the wanted state would toggle it back.
        if (wiz.lvList.rows()[static_cast<std::size_t>(row)].Checked == checked) continue;
        wiz.lvList.setChecked(row, checked);
        wiz.lvList_ItemCheck(row);
    }
}

void finish(frmWiz& wiz) {
    for (int guard = 0; guard < 3 && wiz.CurrentStep < 2 && wiz.cmdNext.Enabled; ++guard)
        wiz.cmdNext_Click();
    wiz.cmdFinish_Click();
}

void cancel(frmWiz& wiz) {
    // On the field selection Cancel only returns to the tree; a second one closes.
    for (int guard = 0; guard < 2 && wiz.isShown(); ++guard) wiz.cmdCancel_Click();
}

void perform(frmWiz& wiz, ManualClock& clock, const WizardAction& action) {
    switch (action.kind) {
        case Kind::Fields:
            chooseFields(wiz, action.argument);
            break;
        case Kind::Leaf:
            chooseLeaf(wiz, clock, action.argument);
            break;
        case Kind::Mark:
            markRows(wiz, action.argument, true);
            break;
        case Kind::Unmark:
            markRows(wiz, action.argument, false);
            break;
        case Kind::Finish:
            finish(wiz);
            break;
        case Kind::Cancel:
            cancel(wiz);
            break;
    }
}

}  // namespace

void checkWizardScript(const std::vector<WizardAction>& actions) {
    for (std::size_t i = 0; i < actions.size(); ++i) {
        const Kind kind = actions[i].kind;
        if ((kind == Kind::Finish || kind == Kind::Cancel) && i + 1 != actions.size())
            throw ScriptError("--finish or --cancel ends the wizard and must come last");
    }
}

void queueWizardScript(ScriptedUserInterface& ui, ManualClock& clock,
                       const std::vector<WizardAction>& actions,
                       std::optional<std::string>& failure) {
    for (const WizardAction& action : actions) {
        ui.queueAction([&clock, &failure, action](Form& form) {
            if (failure) return;
            try {
                perform(wizardOf(form), clock, action);
            } catch (const ScriptError& e) {
                // The user would close the window here; the failure is the script's, not the
                // component's, so it must not travel through Show as one.
                failure = e.what();
                form.close();
            }
        });
    }
}

}  // namespace ovk::host
