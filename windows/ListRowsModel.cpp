#include "windows/ListRowsModel.h"

#include "platform/Text.h"

namespace zurodid {

ListRowsModel::ListRowsModel(ListItemCollection& rows, QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), headers_(std::move(headers)),
      shownRows_(rows.Count()) {
    rows_.SetObserver(this);
}

ListRowsModel::~ListRowsModel() {
    rows_.SetObserver(nullptr);
}

int ListRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ListRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant ListRowsModel::data(const QModelIndex& index, int role) const {
    // The tip holds the cell's whole text, for a cell too narrow to show it (a long subject
    // in the fixed-width columns).
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.row() >= shownRows_ || index.row() >= rows_.Count())
        return {};
    const ListItem& row = rows_.Item(index.row() + 1);
    const std::string& text = index.column() == 0 ? row.Text() : row.SubItems(index.column());
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    return QString::fromStdString(CutForDisplay(text, kMaxDisplayCharacters));
}

QVariant ListRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= headers_.size())
        return {};
    return headers_.at(section);
}

ListRowsModel::Batch::Batch(ListRowsModel& model) : model_(model) {
    ++model_.batchDepth_;
}

ListRowsModel::Batch::~Batch() {
    if (--model_.batchDepth_ == 0)
        model_.Flush();
}

void ListRowsModel::Flush() {
    if (!pending_)
        return;
    pending_ = false;
    beginResetModel();
    shownRows_ = rows_.Count();
    endResetModel();
}

void ListRowsModel::RowsCleared() {
    if (batchDepth_ > 0) {
        pending_ = true;
        return;
    }
    beginResetModel();
    shownRows_ = 0;
    endResetModel();
}

void ListRowsModel::RowAdded(int position) {
    if (batchDepth_ > 0 || pending_) {
        pending_ = true;
        return;
    }
    // Rows are only ever appended, so the new one is the last.
    beginInsertRows({}, shownRows_, position - 1);
    shownRows_ = position;
    endInsertRows();
}

void ListRowsModel::RowChanged(int position, int subItem) {
    if (batchDepth_ > 0 || position > shownRows_)
        return; // the coming reset shows it
    QModelIndex changed = index(position - 1, subItem);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

} // namespace zurodid
