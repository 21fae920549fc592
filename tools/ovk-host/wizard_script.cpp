// SPDX-License-Identifier: MIT
#include "wizard_script.hpp"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace ovk::host {
namespace {

using Kind = WizardAction::Kind;

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

// What the scripted user has in front of them: the last leaf's articles and the marks, in the
// order they were made, as the wizard's download list keeps them.
struct Session {
    Client& client;
    std::optional<ArticleList> list;
    std::vector<std::string> marked;
    // The same marks for look-ups: a leaf of 100,000 articles is marked in linear time.
    std::unordered_set<std::string> isMarked;
};

void chooseFields(Session& session, const std::string& names) {
    const FieldChoice fields = session.client.Fields();
    std::vector<int32_t> ids;
    for (const std::string& name : split(names, ';', false)) {
        std::optional<int32_t> id;
        for (const auto* list : {&fields.Available, &fields.Selected})
            for (const Field& field : *list)
                if (!id && field.Name == name) id = field.Id;
        if (!id) {
            std::vector<std::string> offered;
            for (const Field& field : fields.Available) offered.push_back(field.Name);
            for (const Field& field : fields.Selected) offered.push_back(field.Name);
            throw ScriptError("--fields: the project has no field \"" + name +
                              "\"; it has: " + joined(offered));
        }
        ids.push_back(*id);
    }
    session.client.SelectFields(ids);
    session.list.reset();
}

std::vector<std::string> childPaths(const std::vector<TreeNode>& children,
                                    const std::string& prefix) {
    std::vector<std::string> paths;
    for (const TreeNode& child : children) paths.push_back(prefix + child.Text);
    return paths;
}

void chooseLeaf(Session& session, const std::string& path) {
    Client& client = session.client;
    const std::vector<TreeNode> top = client.TreeNodes();
    if (top.empty()) throw ScriptError("--leaf " + path + ": the tree is empty");
    // Paths start below the first node at the top, the tree's root; naming the root is allowed
    // but not needed.
    TreeNode at = top.front();
    std::vector<TreeNode> children = client.TreeNodes(at.Key);
    std::vector<std::string> values = split(path, '/', true);
    if (!values.empty() && values.front() == at.Text &&
        std::ranges::none_of(children, [&](const TreeNode& c) { return c.Text == at.Text; }))
        values.erase(values.begin());
    std::string walked;
    for (const std::string& value : values) {
        const auto next =
            std::ranges::find_if(children, [&](const TreeNode& c) { return c.Text == value; });
        if (next == children.end()) {
            throw ScriptError(
                "--leaf " + path + ": nothing called \"" + value + "\" under " +
                (walked.empty() ? "the root" : "\"" + walked + "\"") +
                "; there is: " + joined(childPaths(children, walked.empty() ? "" : walked + "/")));
        }
        walked += (walked.empty() ? "" : "/") + value;
        at = *next;
        children = at.ChildCount > 0 ? client.TreeNodes(at.Key) : std::vector<TreeNode>{};
    }
    if (!children.empty()) {
        throw ScriptError("--leaf " + path + " is not a leaf; below it there is: " +
                          joined(childPaths(children, walked + "/")));
    }
    session.list = client.LeafArticles(at.Key);
}

void markRows(Session& session, const std::string& which, bool checked) {
    const char* option = checked ? "--mark" : "--unmark";
    std::vector<std::string> shown;
    if (session.list)
        for (const Article& article : session.list->Articles) shown.push_back(article.Id);
    std::vector<std::string> ids = shown;
    if (which != "all") {
        ids = split(which, ',', false);
        const std::unordered_set<std::string> onList(shown.begin(), shown.end());
        for (const std::string& id : ids) {
            if (!onList.contains(id)) {
                throw ScriptError(std::string(option) + ": the list shows no article \"" + id +
                                  "\"; it shows: " + joined(shown));
            }
        }
    }
    if (checked) {
        for (const std::string& id : ids)
            if (session.isMarked.insert(id).second) session.marked.push_back(id);
        return;
    }
    for (const std::string& id : ids) session.isMarked.erase(id);
    std::erase_if(session.marked,
                  [&](const std::string& id) { return !session.isMarked.contains(id); });
}

}  // namespace

void checkWizardScript(const std::vector<WizardAction>& actions) {
    for (std::size_t i = 0; i < actions.size(); ++i) {
        const Kind kind = actions[i].kind;
        if ((kind == Kind::Finish || kind == Kind::Cancel) && i + 1 != actions.size())
            throw ScriptError("--finish or --cancel ends the wizard and must come last");
    }
}

void playWizardScript(Client& client, const std::vector<WizardAction>& actions) {
    Session session{client, std::nullopt, {}, {}};
    for (const WizardAction& action : actions) {
        switch (action.kind) {
            case Kind::Fields:
                chooseFields(session, action.argument);
                break;
            case Kind::Leaf:
                chooseLeaf(session, action.argument);
                break;
            case Kind::Mark:
                markRows(session, action.argument, true);
                break;
            case Kind::Unmark:
                markRows(session, action.argument, false);
                break;
            case Kind::Finish:
                client.Download(session.marked);
                break;
            case Kind::Cancel:
                // Nothing to download is how a host says cancel: the component ends the
                // download as the wizard's empty Finish does.
                client.Download({});
                break;
        }
    }
}

}  // namespace ovk::host
