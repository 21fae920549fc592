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
    if (index_.contains(key))
        throw Error(err::KeyNotUnique, "Key is not unique in collection", name);
    const int index = static_cast<int>(rows_.size());
    index_.emplace(key, index);
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

int ListView::findRow(std::string_view key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

}  // namespace ovk
