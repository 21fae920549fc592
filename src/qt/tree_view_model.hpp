// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <unordered_map>
#include <vector>

namespace ovk {

class TreeView;

// Shows a form's tree view model in a QTreeView without copying its nodes: an item's internal
// id is the node's index, and parents, rows and child counts are read from the nodes. Only the
// children of a node the view asks into are listed (once, for rows by position), so a rebuild
// costs nothing per node and a tree of a million nodes costs what its open branches hold. The
// node count is taken at each rebuild, so the view stays consistent while the form adds to its
// tree between two renders; texts are read when painted.
class TreeViewModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    // The nodes name their pictures by the keys "close" and "open".
    TreeViewModel(const TreeView& tree, QIcon closed, QIcon open, QObject* parent = nullptr);

    // Takes the tree's current nodes; every index handed out before is invalid.
    void rebuild();
    // The selection moved: the selected node shows its selected image.
    void selectionChanged(int previous, int current);

    QModelIndex indexOfNode(int node) const;
    static int nodeOf(const QModelIndex& index) {
        return index.isValid() ? static_cast<int>(index.internalId()) : -1;
    }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The view hides its header, but a screen reader still reads it: it names the tree.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void setTitle(const QString& title) { title_ = title; }

  private:
    const QIcon& iconFor(const std::string& key) const;
    bool known(int node) const;
    // The children of `node` (-1: the top level) by row.
    const std::vector<int>& rowsOf(int node) const;

    const TreeView& tree_;
    QIcon closed_;
    QIcon open_;
    QString title_;
    // The nodes at the last rebuild: indices below this are shown.
    int count_ = 0;
    mutable std::unordered_map<int, std::vector<int>> rows_;
};

}  // namespace ovk
