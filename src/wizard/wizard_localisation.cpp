// SPDX-License-Identifier: MIT
// The wizard's captions in the user-interface language, and the two texts kept for later:
// the download-count template and the Back button's own caption.

#include <string>

#include "document/resource_items.hpp"
#include "platform/errors.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {

void frmWiz::LocalizeForm(int16_t LanguageId) {
    skipOnError([&] {
        const auto items = LoadResourceItems(std::to_string(LanguageId));
        if (!items) return;
        const std::vector<Control*> all = controls();
        for (const ResourceItem& item : *items) {
            const std::string caption = item.caption.value_or(std::string());
            for (Control* control : all) {
                if (control->hasCaption && control->name == item.name) control->Caption = caption;
            }
            if (item.name == "lblDownloadCount") CountTemplate = caption;
            if (item.name == "cmdBack") cmdBack.Tag = caption;
        }
    });
}

}  // namespace ovk
