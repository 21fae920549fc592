// SPDX-License-Identifier: MIT
#include "qt/tree_view_model.hpp"

#include "wizard/tree_view.hpp"

namespace ovk {

TreeViewModel::TreeViewModel(const TreeView& tree, QIcon closed, QIcon open, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), closed_(std::move(closed)), open_(std::move(open)) {}

void TreeViewModel::rebuild() {
    beginResetModel();
    count_ = tree_.Count();
    rows_.clear();
    endResetModel();
}

void TreeViewModel::selectionChanged(int previous, int current) {
    for (const int node : {previous, current}) {
        const QModelIndex index = indexOfNode(node);
        if (index.isValid()) emit dataChanged(index, index, {Qt::DecorationRole});
    }
}

bool TreeViewModel::known(int node) const {
    return node >= 0 && node < count_ && node < tree_.Count();
}

// Nodes added since the last rebuild are left out, so that rows and counts agree with what the
// view was told.
const std::vector<int>& TreeViewModel::rowsOf(int node) const {
    auto [place, added] = rows_.try_emplace(node);
    if (added) {
        for (const int child : tree_.children(node)) {
            if (child >= count_) break;
            place->second.push_back(child);
        }
    }
    return place->second;
}

QModelIndex TreeViewModel::indexOfNode(int node) const {
    if (!known(node)) return {};
    return createIndex(tree_.node(node).row, 0, static_cast<quintptr>(node));
}

QModelIndex TreeViewModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || row >= rowCount(parent)) return {};
    const std::vector<int>& rows = rowsOf(nodeOf(parent));
    if (row >= static_cast<int>(rows.size())) return {};
    return createIndex(row, 0, static_cast<quintptr>(rows[static_cast<std::size_t>(row)]));
}

QModelIndex TreeViewModel::parent(const QModelIndex& child) const {
    const int node = nodeOf(child);
    if (!known(node)) return {};
    return indexOfNode(tree_.node(node).parent);
}

int TreeViewModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        if (count_ == 0) return 0;
        return static_cast<int>(rowsOf(-1).size());
    }
    const int node = nodeOf(parent);
    if (parent.column() != 0 || !known(node)) return 0;
    const TreeView::Children& children = tree_.node(node).children;
    // Every child came after its parent: when the last one is shown, all of them are.
    if (children.last < count_) return children.count;
    return static_cast<int>(rowsOf(node).size());
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
    if (!known(node) || node >= tree_.Count()) return {};
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
