// SPDX-License-Identifier: MIT
#include "wizard/list_view.hpp"

#include "platform/errors.hpp"

namespace ovk {

int ListView::addColumn(std::string text, double width) {
    headers_.insert(text);
    columns_.push_back(Column{std::move(text), width});
    ++revision_;
    return static_cast<int>(columns_.size()) - 1;
}

void ListView::setColumnWidth(int column, double width) {
    columns_.at(static_cast<std::size_t>(column)).Width = width;
}

int ListView::addRow(std::string key, std::string text) {
    const int index = static_cast<int>(rows_.size());
    if (!index_.try_emplace(key, index).second)
        throw Error(err::KeyNotUnique, "Key is not unique in collection", name);
    rows_.push_back(Row{std::move(key), std::move(text), {}, false});
    ++revision_;
    return index;
}

void ListView::addSubItem(int row, std::string value) {
    rows_.at(static_cast<std::size_t>(row)).SubItems.push_back(std::move(value));
    ++revision_;
}

void ListView::setChecked(int row, bool checked) {
    rows_.at(static_cast<std::size_t>(row)).Checked = checked;
    ++checkRevision_;
}

void ListView::clear() {
    rows_.clear();
    columns_.clear();
    headers_.clear();
    index_.clear();
    ++revision_;
    ++checkRevision_;
}

void ListView::takeContents(ListView& other) {
    // Swapped, not moved over: the old contents go to `other`, whose owner decides when and
    // where they are freed.
    std::swap(columns_, other.columns_);
    std::swap(rows_, other.rows_);
    std::swap(index_, other.index_);
    std::swap(headers_, other.headers_);
    ++other.revision_;
    ++other.checkRevision_;
    ++revision_;
    ++checkRevision_;
}

int ListView::findRow(std::string_view key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

}  // namespace ovk
