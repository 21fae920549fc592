// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>
#include <functional>

namespace ovk {

class ListView;

// Shows a form's list view model (report view with check boxes) in a QTreeView without copying
// its rows: 20,000 rows by a dozen columns cost nothing until painted. The row and column
// counts are taken once per rebuild, so the view stays consistent while the form changes its
// list between two renders. A check box the user toggles goes to `onUserCheck`, which updates
// the form; the model itself never changes the form.
class ListViewModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit ListViewModel(const ListView& list, QObject* parent = nullptr);

    // Called with the row and its new state when the user toggles a check box.
    std::function<void(int row, bool checked)> onUserCheck;

    // Takes the list's current rows and columns; every index handed out before is invalid.
    void rebuild();
    // Check boxes changed in the form: repaints them.
    void checksChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const ListView& list_;
    int rows_ = 0;
    int columns_ = 0;
};

}  // namespace ovk
