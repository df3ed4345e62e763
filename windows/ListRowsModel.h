#pragma once

#include "store/ListRows.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace zurodid {

// A read-only table over the rows of a list, following them through the observer: item text
// in column 0, sub-items 1..3 in the columns after it, in insertion order.
class ListRowsModel final : public QAbstractTableModel, private ListRowsObserver {
    Q_OBJECT
public:
    ListRowsModel(ListItemCollection& rows, QStringList headers, QObject* parent = nullptr);
    ~ListRowsModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // While a Batch lives, changes are gathered and the views hear of them once, at the end or
    // at Flush: a fill of thousands of rows then costs one view update, not one per row.
    class Batch {
    public:
        explicit Batch(ListRowsModel& model);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        ListRowsModel& model_;
    };
    // Brings the views up to date now (before a message box lets them paint).
    void Flush();

private:
    void RowsCleared() override;
    void RowAdded(int position) override;
    void RowChanged(int position, int subItem) override;

    ListItemCollection& rows_;
    QStringList headers_;
    int shownRows_ = 0; // what the views have been told
    int batchDepth_ = 0;
    bool pending_ = false;
};

} // namespace zurodid
