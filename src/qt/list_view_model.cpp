// SPDX-License-Identifier: MIT
#include "qt/list_view_model.hpp"

#include "wizard/list_view.hpp"

namespace ovk {

ListViewModel::ListViewModel(const ListView& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

void ListViewModel::rebuild() {
    beginResetModel();
    rows_ = static_cast<int>(list_.rows().size());
    columns_ = static_cast<int>(list_.columns().size());
    endResetModel();
}

void ListViewModel::checksChanged() {
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, 0), {Qt::CheckStateRole});
}

int ListViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ListViewModel::columnCount(const QModelIndex& parent) const {
    // A list with rows but no column still shows its rows' texts: nothing a form adds is hidden.
    return parent.isValid() ? 0 : (columns_ == 0 && rows_ > 0 ? 1 : columns_);
}

QVariant ListViewModel::data(const QModelIndex& index, int role) const {
    const auto row = static_cast<std::size_t>(index.row());
    // The form may have changed its list since the last rebuild.
    if (!index.isValid() || row >= list_.rows().size()) return {};
    const ListView::Row& item = list_.rows()[row];
    if (role == Qt::CheckStateRole && index.column() == 0)
        return item.Checked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (index.column() == 0) return QString::fromStdString(item.Text);
    const auto sub = static_cast<std::size_t>(index.column() - 1);
    return sub < item.SubItems.size() ? QString::fromStdString(item.SubItems[sub]) : QVariant();
}

bool ListViewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 || index.row() >= rows_) return false;
    if (static_cast<std::size_t>(index.row()) >= list_.rows().size()) return false;
    const bool checked = value.toInt() == Qt::Checked;
    if (onUserCheck) onUserCheck(index.row(), checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags ListViewModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const auto column = static_cast<std::size_t>(section);
    if (column >= list_.columns().size()) return {};
    return QString::fromStdString(list_.columns()[column].Text);
}

}  // namespace ovk
