// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <vector>

namespace ovk {

class TreeView;

// Shows a form's tree view model in a QTreeView without copying its nodes: an item's internal
// id is the node's index. The shape (who is whose child) is taken once per rebuild, so the
// view stays consistent while the form changes its tree between two renders; texts are read
// when painted. Costs one pass over the nodes per rebuild, nothing per node afterwards.
class TreeViewModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    // The nodes name their pictures by the keys "close" and "open".
    TreeViewModel(const TreeView& tree, QIcon closed, QIcon open, QObject* parent = nullptr);

    // Takes the tree's current shape; every index handed out before is invalid.
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

    const TreeView& tree_;
    QIcon closed_;
    QIcon open_;
    QString title_;
    // The shape at the last rebuild: children of node i are children_[start_[i] .. start_[i+1]).
    std::vector<int> roots_;
    std::vector<int> start_;
    std::vector<int> children_;
    std::vector<int> parent_;
    std::vector<int> row_;
};

}  // namespace ovk
