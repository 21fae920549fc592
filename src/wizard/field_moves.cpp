// SPDX-License-Identifier: MIT
// Step 0: moving search fields between "All Elements" and "Selected Elements" and ordering the
// chosen ones. Every statement runs under "skip it and go on", so a move on an odd list state
// does as much as it can and never fails to the user.

#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {

void frmWiz::moveOne(ListBox& source, ListBox& target) {
    if (source.ListCount() == 0) return;
    // With entries but none current there is nothing the user pointed at; moving an empty
    // text would put a field without a name and identifier into the selection.
    const int i = source.ListIndex();
    if (i < 0) return;
    int added = -1;
    skipOnError([&] {
        target.AddItem(source.List(i));
        added = target.NewIndex();
    });
    skipOnError([&] { target.ItemData(added, source.ItemData(i)); });
    skipOnError([&] { source.RemoveItem(i); });
    if (source.ListCount() > 0) {
        skipOnError([&] { source.ListIndex(i > source.ListCount() - 1 ? i - 1 : i); });
    }
    skipOnError([&] { target.ListIndex(added); });
}

void frmWiz::moveAll(ListBox& source, ListBox& target, bool selectFirst) {
    for (const ListBox::Entry& entry : source.entries()) {
        skipOnError([&] {
            target.AddItem(entry.text);
            target.ItemData(target.NewIndex(), entry.itemData);
        });
    }
    skipOnError([&] { source.Clear(); });
    skipOnError([&] { target.ListIndex(selectFirst ? 0 : target.NewIndex()); });
}

void frmWiz::cmdRightOne_Click() {
    moveOne(lstAll, lstSelected);
}

void frmWiz::cmdLeftOne_Click() {
    moveOne(lstSelected, lstAll);
}

void frmWiz::cmdRightAll_Click() {
    moveAll(lstAll, lstSelected, true);
}

void frmWiz::cmdLeftAll_Click() {
    moveAll(lstSelected, lstAll, false);
}

void frmWiz::cmdUp_Click() {
    const int i = lstSelected.ListIndex();
    if (i <= 0) return;
    const int32_t data = lstSelected.ItemData(i);
    const std::string text = lstSelected.List(i);
    skipOnError([&] { lstSelected.AddItem(text, i - 1); });
    skipOnError([&] { lstSelected.ItemData(i - 1, data); });
    skipOnError([&] { lstSelected.RemoveItem(i + 1); });
    skipOnError([&] { lstSelected.ListIndex(i - 1); });
}

void frmWiz::cmdDown_Click() {
    const int i = lstSelected.ListIndex();
    if (i < 0 || i >= lstSelected.ListCount() - 1) return;
    const int32_t data = lstSelected.ItemData(i);
    const std::string text = lstSelected.List(i);
    skipOnError([&] { lstSelected.AddItem(text, i + 2); });
    skipOnError([&] { lstSelected.ItemData(i + 2, data); });
    skipOnError([&] { lstSelected.RemoveItem(i); });
    skipOnError([&] { lstSelected.ListIndex(i + 1); });
}

void frmWiz::lstAll_DblClick() {
    cmdRightOne_Click();
}

void frmWiz::lstSelected_DblClick() {
    cmdLeftOne_Click();
}

}  // namespace ovk
