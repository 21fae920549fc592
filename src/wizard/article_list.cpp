// SPDX-License-Identifier: MIT
// Step 1's article list: the rows of a leaf's selection reply with their check boxes, the
// download list the boxes fill, the column widths carried from one filling to the next and
// the list's pop-up menu.

#include <string>

#include "document/component_texts.hpp"
#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/list_reply_reader.hpp"

namespace ovk {

void frmWiz::FillList(const xml::NodeList& Nodelist) {
    ListReplyReader reader(*this);
    try {
        xml::walk(Nodelist, reader);
    } catch (...) {
        // Only a bound gets here; the list stays as it was. The user sees it in the form of
        // every other failure of the list, the host gets it as an Exception.
        const Error failure = currentError();
        services_.ui.setMousePointer(MousePointer::Default);
        showListFailure(failure);
        events_.HandlerFailed(failure.number, failure.description,
                              failure.source.empty() ? "frmWiz.FillList" : failure.source);
        return;
    }
    showFilledList(reader);
}

void frmWiz::showListFailure(const Error& failure) {
    services_.ui.msgBox("Fehler: " + std::to_string(failure.number) + "\r\n" +
                            LocalizedText(failure.description, GUILangID),
                        std::string(kApplicationTitle), MsgBoxButtons::OkOnly, MsgBoxIcon::None);
}

void frmWiz::showFilledList(ListReplyReader& reader) {
    const std::optional<Error> failure = reader.commit();
    services_.ui.setMousePointer(MousePointer::Default);
    if (failure) showListFailure(*failure);
}

bool frmWiz::CheckHeader(const std::string& HeaderName) const {
    return lvList.hasColumn(HeaderName);
}

bool frmWiz::IsMarked(const std::string& ID) const {
    try {
        return DownloadItems && DownloadItems->Item("ID_" + ID) != nullptr;
    } catch (...) {
        return false;
    }
}

void frmWiz::lvList_ItemCheck(int index) {
    skipOnError([&] {
        if (!DownloadItems) DownloadItems = std::make_unique<ovk::DownloadItems>();
    });
    if (index < 0 || index >= static_cast<int>(lvList.rows().size())) return;
    const ListView::Row& row = lvList.rows()[static_cast<std::size_t>(index)];
    const std::string key = "ID_" + row.Text;
    skipOnError([&] {
        if (row.Checked && !DownloadItems->Item(key)) DownloadItems->Add(row.Text, key);
    });
    skipOnError([&] {
        if (!row.Checked && DownloadItems->Item(key)) DownloadItems->Remove(key);
    });
}

void frmWiz::lvList_MouseUp(int Button, int, double x, double y) {
    if (Button == RightButton && PopupMenu) PopupMenu(mnuLvView, x, y);
}

void frmWiz::mnuLvSelectAll_Click() {
    for (int i = 0; i < static_cast<int>(lvList.rows().size()); ++i) {
        lvList.setChecked(i, true);
        lvList_ItemCheck(i);
    }
}

void frmWiz::mnuLvDeselect_Click() {
    for (int i = 0; i < static_cast<int>(lvList.rows().size()); ++i) {
        lvList.setChecked(i, false);
        lvList_ItemCheck(i);
    }
}

}  // namespace ovk
