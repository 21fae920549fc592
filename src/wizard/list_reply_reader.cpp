// SPDX-License-Identifier: MIT
#include "wizard/list_reply_reader.hpp"

#include <memory>
#include <string>

#include "wizard/frm_wiz.hpp"

namespace ovk {

ListReplyReader::ListReplyReader(frmWiz& form) : ListReplyReader(form, Limits()) {}

ListReplyReader::ListReplyReader(frmWiz& form, Limits limits) : form_(form), limits_(limits) {}

void ListReplyReader::refuse(const std::string& bound) const {
    throw Error(err::SoapReplyTooLarge, "The article list is too large to show: " + bound,
                "frmWiz.FillList");
}

void ListReplyReader::begin() {
    begun_ = true;
    if (form_.ColumnWidths) {
        form_.ColumnWidths = std::make_unique<HeadCols>();
        for (const ListView::Column& column : form_.lvList.columns()) {
            // Widths are keyed without regard to case while headers are not: a second header
            // that differs only in case keeps the first one's width rather than failing the
            // whole list.
            skipOnError([&] { form_.ColumnWidths->Add(column.Width, "ID_" + column.Text); });
        }
    }
}

void ListReplyReader::startElement(int depth, std::span<const xml::AttributeView> attributes) {
    if (!begun_) begin();
    if (failure_ || pastRoot_) return;
    if (depth == 2) {
        row_ = -1;
    } else if (depth == 3) {
        if (row_ < 0 && rows_.rows().size() >= limits_.maxRows)
            refuse("it has more than " + std::to_string(limits_.maxRows) + " rows");
        if (++cells_ > limits_.maxCells)
            refuse("it has more than " + std::to_string(limits_.maxCells) + " cells");
        if (attributes.size() > 2) {
            text_ += attributes[1].value.size() + attributes[2].value.size();
            if (text_ > limits_.maxText)
                refuse("its texts take more than " + std::to_string(limits_.maxText) + " bytes");
        }
        try {
            cell(attributes);
        } catch (...) {
            failure_ = currentError();
        }
    }
}

void ListReplyReader::endElement(int depth) {
    if (depth == 1) pastRoot_ = true;
}

void ListReplyReader::otherNode(int depth) {
    if (!begun_) begin();
    // Only the first node holds rows; a node of it that is not an element has no cells.
    if (depth == 1) pastRoot_ = true;
    if (failure_ || pastRoot_ || depth != 3) return;
    failure_ = Error(err::ObjectMissing, "Object variable or With block variable not set");
}

void ListReplyReader::cell(std::span<const xml::AttributeView> attributes) {
    if (attributes.size() < 3)
        throw Error(err::ObjectMissing, "Object variable or With block variable not set");
    const std::string_view header = attributes[1].value;
    if (!rows_.hasColumn(header)) {
        const int column = rows_.addColumn(std::string(header));
        if (form_.ColumnWidths) {
            if (const auto width = form_.ColumnWidths->Item("ID_" + std::string(header)))
                rows_.setColumnWidth(column, width->ColWidth());
        }
    }
    std::string value(attributes[2].value);
    if (row_ < 0) {
        row_ = rows_.addRow("NO_" + value, value);
        form_.ArticlesRead = static_cast<int32_t>(rows_.rows().size());
        if (form_.DownloadItems && form_.IsMarked(value)) rows_.setChecked(row_, true);
    } else {
        rows_.addSubItem(row_, std::move(value));
    }
}

std::optional<Error> ListReplyReader::commit() {
    if (!begun_) {
        // A reply without a first node: the list empties, as it would before reading one.
        begin();
        failure_ = Error(err::ObjectMissing, "Object variable or With block variable not set");
    }
    form_.lvList.takeContents(rows_);
    form_.freeing_.dispose(std::move(rows_));
    rows_.clear();
    if (!form_.ColumnWidths) form_.ColumnWidths = std::make_unique<HeadCols>();
    return failure_;
}

}  // namespace ovk
