// SPDX-License-Identifier: MIT
// Step 0's lists: the fields the project offers, and the user's stored choice of them or the
// service's default choice, which is stored at once.

#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "platform/numbers.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/reply_nodes.hpp"

namespace ovk {
namespace {

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

}  // namespace

std::string frmWiz::selectionText() const {
    std::string text;
    for (int i = 0; i < lstSelected.ListCount(); ++i)
        text += std::to_string(lstSelected.ItemData(i)) + ";";
    if (!text.empty()) text.pop_back();
    return text;
}

void frmWiz::storeSelection(const std::string& text) {
    if (!structureLoaded_) return;
    services_.settings.write(kSettingsApplication, ActiveProject, std::to_string(ActiveLangId),
                             text);
}

std::string frmWiz::storedSelection() const {
    return services_.settings.readText(kSettingsApplication, ActiveProject,
                                       std::to_string(ActiveLangId));
}

void frmWiz::moveFieldById(double id) {
    for (int i = 0; i < lstAll.ListCount(); ++i) {
        if (lstAll.ItemData(i) != id) continue;
        lstAll.ListIndex(i);
        cmdRightOne_Click();
        return;
    }
}

void frmWiz::loadAllFields(const std::vector<soap::Argument>& project) {
    const auto structure = MySoapobject->call("getStructure", project);
    if (!structure || reply::firstNode(*structure).name() == "Exception") {
        services_.ui.msgBox(lblProjectNotFoundMsg.Caption, "Warning", MsgBoxButtons::OkOnly,
                            MsgBoxIcon::Exclamation);
        return;
    }
    lstAll.Clear();
    for (const xml::Node& field : reply::firstNode(*structure).childElements()) {
        const std::string name = reply::attributeAt(field, 3);
        const int32_t id = numbers::toInt32(reply::attributeAt(field, 2));
        lstAll.AddItem(name);
        lstAll.ItemData(lstAll.NewIndex(), id);
    }
    structureLoaded_ = true;
}

void frmWiz::loadChosenFields(const std::vector<soap::Argument>& project) {
    const std::string stored = storedSelection();
    if (!stored.empty()) {
        lstSelected.Clear();
        for (const std::string& part : splitAt(stored, ';')) {
            const auto id = numbers::parseNumber(part);
            if (!id) throw Error(err::TypeMismatch, "Type mismatch", "LoadFieldLists");
            moveFieldById(*id);
        }
        return;
    }
    // No hourglass while the default choice is fetched.
    services_.ui.setMousePointer(MousePointer::Default);
    const auto defaults = MySoapobject->call("GetDefaultSelect", project);
    if (!defaults || reply::firstNode(*defaults).name() == "Error") return;
    lstSelected.Clear();
    for (const xml::Node& field : reply::firstNode(*defaults).childElements())
        moveFieldById(numbers::toInt16(reply::attributeAt(field, 0)));
    storeSelection(selectionText());
}

void frmWiz::LoadFieldLists() {
    UserInterface& ui = services_.ui;
    ui.setMousePointer(MousePointer::Hourglass);
    structureLoaded_ = false;
    try {
        if (MySoapobject) {
            const std::vector<soap::Argument> project{ActivePassword, ActiveProject, ActiveLangId};
            loadAllFields(project);
            loadChosenFields(project);
        }
        ui.setMousePointer(MousePointer::Default);
    } catch (...) {
        const Error failure = currentError();
        ui.setMousePointer(MousePointer::Default);
        ui.msgBox("Es ist eine unbehandelte Ausname aufgetreten.\r\nID = " +
                      std::to_string(failure.number) + "\r\nMessage:\r\n" + failure.description,
                  "Error", MsgBoxButtons::OkOnly, MsgBoxIcon::Critical);
    }
}

}  // namespace ovk
