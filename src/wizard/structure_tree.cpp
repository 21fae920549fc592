// Step 1's structure tree: built in full from one getTreeData reply, and the article list of
// a leaf loaded once the selection has rested on that leaf for half a second.

#include <algorithm>
#include <string>
#include <vector>

#include "codec/encoding.hpp"
#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/reply_nodes.hpp"

namespace ovk {
namespace {

constexpr const char* kClosedImage = "close";
constexpr const char* kOpenImage = "open";
constexpr int32_t kSelectionDelayMs = 500;

// The key travels as Base64 of its Windows-1252 bytes: the service decodes it that way.
std::string encodeNodeKey(const std::string& key) {
    const Encoding encoding;
    std::vector<uint8_t> bytes;
    encoding.Str2ByteArray(key, bytes);
    std::vector<uint8_t> encoded;
    encoding.EncodeB64(bytes, encoded);
    std::string text;
    encoding.ByteArryToString(encoded, text);
    return text;
}

}  // namespace

bool frmWiz::LoadTree() {
    UserInterface& ui = services_.ui;
    lvList.clear();
    tvTree.Clear();
    ColumnWidths.reset();
    ui.setMousePointer(MousePointer::Hourglass);
    DownloadItems.reset();
    skipOnError([&] {
        if (!MySoapobject) return;
        std::string fields = storedSelection();
        std::ranges::replace(fields, ';', ',');
        const auto tree = MySoapobject->call("getTreeData",
                                             {ActivePassword, ActiveProject, ActiveLangId, fields});
        if (!tree) return;
        const xml::Node root = reply::firstNode(*tree);
        if (!root.hasChildNodes()) return;
        const std::string id = reply::attribute(root, "ID");
        const std::string value = reply::attribute(root, "Value");
        const int top = tvTree.Add({}, id + "{}" + value, value, kClosedImage, kOpenImage);
        CreateTreeNode(tvTree, top, root);
        tvTree.setExpanded(top, true);
    });
    ui.setMousePointer(MousePointer::Default);
    return tvTree.Count() > 0;
}

void frmWiz::CreateTreeNode(TreeView& View, int ActiveTreeNode, xml::Node xmlNode) {
    // A failing child ends the work on this node's remaining children only; the caller goes
    // on with its own next child.
    skipOnError([&] {
        const std::string parentKey = View.node(ActiveTreeNode).Key;
        for (xml::Node child = xmlNode.firstChild(); child; child = child.nextSibling()) {
            std::string value = reply::attribute(child, "Value");
            std::string key = parentKey + "||" + reply::attribute(child, "ID") + "{}" + value;
            const int added =
                View.Add(parentKey, std::move(key), std::move(value), kClosedImage, kOpenImage);
            if (child.hasChildNodes()) CreateTreeNode(View, added, child);
        }
    });
}

void frmWiz::tvTree_NodeClick(int index) {
    if (index < 0 || index >= tvTree.Count()) return;
    const TreeView::Node& node = tvTree.node(index);
    if (!node.children.empty()) return;
    timTree_->stop();
    timTree_->setInterval(kSelectionDelayMs);
    PendingKey = node.Key;
    timTree_->start();
}

void frmWiz::timTree_Timer() {
    // A leaf chosen just before Finish must not load articles, nor give back the buttons that
    // Finish took away, while the download runs the pending events.
    if (Busy != 0) {
        timTree_->stop();
        return;
    }
    UserInterface& ui = services_.ui;
    const int selected = tvTree.SelectedItem();
    const std::string key = selected >= 0 ? tvTree.node(selected).Key : std::string();
    if (key != PendingKey) {
        PendingKey.clear();
    } else if (selected >= 0 && tvTree.node(selected).children.empty()) {
        ui.setMousePointer(MousePointer::Hourglass);
        tvTree.Enabled = false;
        cmdNext.Enabled = false;
        cmdBack.Enabled = false;
        // A failing selection call or key encoding is told to the user and the owner; the tree
        // and the buttons come back below either way.
        guarded(
            [&] {
                events_.DebugInfo(key);
                const auto rows =
                    MySoapobject
                        ? MySoapobject->call("GetSelectionData", {ActivePassword, ActiveProject,
                                                                  ActiveLangId, encodeNodeKey(key)})
                        : std::nullopt;
                if (!rows) {
                    ui.setMousePointer(MousePointer::Default);
                    return;
                }
                FillList(*rows);
            },
            "frmWiz.timTree_Timer");
    }
    tvTree.Enabled = true;
    cmdNext.Enabled = true;
    cmdBack.Enabled = true;
    timTree_->stop();
}

}  // namespace ovk
