// SPDX-License-Identifier: MIT
#include "qt/tree_view_model.hpp"

#include "wizard/tree_view.hpp"

namespace ovk {

TreeViewModel::TreeViewModel(const TreeView& tree, QIcon closed, QIcon open, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), closed_(std::move(closed)), open_(std::move(open)) {}

void TreeViewModel::rebuild() {
    beginResetModel();
    const int count = tree_.Count();
    roots_.clear();
    start_.assign(static_cast<std::size_t>(count) + 1, 0);
    children_.clear();
    children_.reserve(static_cast<std::size_t>(count));
    parent_.assign(static_cast<std::size_t>(count), -1);
    row_.assign(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const TreeView::Node& node = tree_.node(i);
        const auto at = static_cast<std::size_t>(i);
        start_[at] = static_cast<int>(children_.size());
        parent_[at] = node.parent;
        if (node.parent < 0) {
            row_[at] = static_cast<int>(roots_.size());
            roots_.push_back(i);
        }
        int row = 0;
        for (const int child : node.children) {
            children_.push_back(child);
            row_[static_cast<std::size_t>(child)] = row++;
        }
    }
    start_[static_cast<std::size_t>(count)] = static_cast<int>(children_.size());
    endResetModel();
}

void TreeViewModel::selectionChanged(int previous, int current) {
    for (const int node : {previous, current}) {
        const QModelIndex index = indexOfNode(node);
        if (index.isValid()) emit dataChanged(index, index, {Qt::DecorationRole});
    }
}

QModelIndex TreeViewModel::indexOfNode(int node) const {
    if (node < 0 || node >= static_cast<int>(parent_.size())) return {};
    return createIndex(row_[static_cast<std::size_t>(node)], 0, static_cast<quintptr>(node));
}

QModelIndex TreeViewModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) {
        if (row >= static_cast<int>(roots_.size())) return {};
        return createIndex(row, 0, static_cast<quintptr>(roots_[static_cast<std::size_t>(row)]));
    }
    const auto node = static_cast<std::size_t>(nodeOf(parent));
    if (node >= parent_.size() || row >= start_[node + 1] - start_[node]) return {};
    return createIndex(
        row, 0,
        static_cast<quintptr>(
            children_[static_cast<std::size_t>(start_[node]) + static_cast<std::size_t>(row)]));
}

QModelIndex TreeViewModel::parent(const QModelIndex& child) const {
    const int node = nodeOf(child);
    if (node < 0 || node >= static_cast<int>(parent_.size())) return {};
    return indexOfNode(parent_[static_cast<std::size_t>(node)]);
}

int TreeViewModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(roots_.size());
    const auto node = static_cast<std::size_t>(nodeOf(parent));
    if (parent.column() != 0 || node >= parent_.size()) return 0;
    return start_[node + 1] - start_[node];
}

int TreeViewModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

bool TreeViewModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant TreeViewModel::data(const QModelIndex& index, int role) const {
    const int node = nodeOf(index);
    // The form may have changed its tree since the last rebuild; show nothing rather than a
    // node that is no longer there.
    if (node < 0 || node >= tree_.Count() || node >= static_cast<int>(parent_.size())) return {};
    const TreeView::Node& model = tree_.node(node);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            const std::string_view text = model.Text();
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        case Qt::DecorationRole:
            return iconFor(
                tree_.imageKey(tree_.SelectedItem() == node ? model.selectedImage : model.image));
        default:
            return {};
    }
}

QVariant TreeViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return title_;
}

const QIcon& TreeViewModel::iconFor(const std::string& key) const {
    static const QIcon none;
    if (key == "close") return closed_;
    if (key == "open") return open_;
    return none;
}

}  // namespace ovk
