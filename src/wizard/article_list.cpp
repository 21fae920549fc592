// Step 1's article list: the rows of a leaf's selection reply with their check boxes, the
// download list the boxes fill, the column widths carried from one filling to the next and
// the list's pop-up menu.

#include <string>

#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/reply_nodes.hpp"

namespace ovk {

void frmWiz::FillList(const xml::NodeList& Nodelist) {
    UserInterface& ui = services_.ui;
    try {
        if (ColumnWidths) {
            ColumnWidths = std::make_unique<HeadCols>();
            for (const ListView::Column& column : lvList.columns()) {
                // Widths are keyed without regard to case while headers are not: a second
                // header that differs only in case keeps the first one's width rather than
                // failing the whole list.
                skipOnError([&] { ColumnWidths->Add(column.Width, "ID_" + column.Text); });
            }
        }
        lvList.clear();
        const xml::Node root = reply::firstNode(Nodelist);
        for (xml::Node row = root.firstChild(); row; row = row.nextSibling()) {
            int rowIndex = -1;
            for (xml::Node cell = row.firstChild(); cell; cell = cell.nextSibling()) {
                const std::string header = reply::attributeAt(cell, 1);
                if (!CheckHeader(header)) {
                    const int column = lvList.addColumn(header);
                    if (ColumnWidths) {
                        if (const auto width = ColumnWidths->Item("ID_" + header))
                            lvList.setColumnWidth(column, width->ColWidth());
                    }
                }
                std::string value = reply::attributeAt(cell, 2);
                if (rowIndex < 0) {
                    rowIndex = lvList.addRow("NO_" + value, value);
                    if (DownloadItems && IsMarked(value)) lvList.setChecked(rowIndex, true);
                } else {
                    lvList.addSubItem(rowIndex, std::move(value));
                }
            }
        }
        if (!ColumnWidths) ColumnWidths = std::make_unique<HeadCols>();
        ui.setMousePointer(MousePointer::Default);
    } catch (...) {
        const Error failure = currentError();
        ui.setMousePointer(MousePointer::Default);
        ui.msgBox("Fehler: " + std::to_string(failure.number) + "\r\n" + failure.description,
                  std::string(kApplicationTitle), MsgBoxButtons::OkOnly, MsgBoxIcon::None);
    }
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
