// SPDX-License-Identifier: MIT
// Step 1's structure tree: built in full from one getTreeData reply as it is read, and the article
// list of a leaf loaded once the selection has rested on that leaf for half a second.

#include <algorithm>
#include <string>
#include <vector>

#include "codec/encoding.hpp"
#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/list_reply_reader.hpp"
#include "wizard/tree_reply_reader.hpp"

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
    // A million nodes and a hundred thousand rows take longer to free than a window may stand
    // still.
    ListView shownRows;
    lvList.takeContents(shownRows);
    freeing_.dispose(std::move(shownRows));
    tvTree.Clear(freeing_);
    ColumnWidths.reset();
    TreeLoading = true;
    ui.setMousePointer(MousePointer::Hourglass);
    DownloadItems.reset();
    try {
        if (MySoapobject) {
            std::string fields = storedSelection();
            std::ranges::replace(fields, ';', ',');
            // The tree is built as the reply is read: a million nodes never stand in memory
            // twice, once as the reply's tree and once as the view's.
            TreeReplyReader reader(tvTree, kClosedImage, kOpenImage);
            MySoapobject->callStreamed(
                "getTreeData", {ActivePassword, ActiveProject, ActiveLangId, fields}, reader);
            if (reader.root() >= 0) tvTree.setExpanded(reader.root(), true);
        }
    } catch (...) {
        const Error failure = currentError();
        // A reply that fails part-way leaves no tree, as one that fails at once.
        tvTree.Clear();
        // A reply over a bound is a real catalogue this program cannot take: the user must
        // hear why the tree stays empty.
        if (failure.number == err::SoapReplyTooLarge && failure.description != treeRefusal_) {
            treeRefusal_ = failure.description;
            reportFailure(failure, "frmWiz.LoadTree");
        }
    }
    TreeLoading = false;
    ui.setMousePointer(MousePointer::Default);
    return tvTree.Count() > 0;
}

void frmWiz::tvTree_NodeClick(int index) {
    if (index < 0 || index >= tvTree.Count()) return;
    const TreeView::Node& node = tvTree.node(index);
    if (!node.children.empty()) return;
    timTree_->stop();
    timTree_->setInterval(kSelectionDelayMs);
    PendingKey = tvTree.Key(index);
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
    const std::string key = selected >= 0 ? tvTree.Key(selected) : std::string();
    if (key != PendingKey) {
        PendingKey.clear();
    } else if (selected >= 0 && tvTree.node(selected).children.empty()) {
        ArticlesRead = 0;
        ui.setMousePointer(MousePointer::Hourglass);
        tvTree.Enabled = false;
        cmdNext.Enabled = false;
        cmdBack.Enabled = false;
        // A failing selection call or key encoding is told to the user and the owner; the tree
        // and the buttons come back below either way.
        guarded(
            [&] {
                events_.DebugInfo(key);
                // The rows are filled as the reply is read: a leaf of 100,000 articles never
                // stands in memory as a tree of the reply.
                ListReplyReader rows(*this);
                const bool any =
                    MySoapobject &&
                    MySoapobject->callStreamed(
                        "GetSelectionData",
                        {ActivePassword, ActiveProject, ActiveLangId, encodeNodeKey(key)}, rows);
                if (!any) {
                    ui.setMousePointer(MousePointer::Default);
                    return;
                }
                showFilledList(rows);
            },
            "frmWiz.timTree_Timer");
    }
    ArticlesRead = -1;
    tvTree.Enabled = true;
    cmdNext.Enabled = true;
    cmdBack.Enabled = true;
    timTree_->stop();
}

}  // namespace ovk
