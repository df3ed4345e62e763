#include "store/ListRows.h"

#include "platform/RuntimeError.h"

namespace zurodid {
namespace {

std::size_t SubItemSlot(int index) {
    if (index < 1 || index > 3)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue, "Invalid property value");
    return static_cast<std::size_t>(index - 1);
}

} // namespace

const std::string& ListItem::SubItems(int index) const {
    return subItems_[SubItemSlot(index)];
}

void ListItem::SetSubItems(int index, std::string text) {
    subItems_[SubItemSlot(index)] = std::move(text);
    if (owner_)
        owner_->Changed(position_, index);
}

void ListItemCollection::Clear() {
    rows_.clear();
    if (observer_)
        observer_->RowsCleared();
}

void ListItemCollection::TakeRowsOf(ListItemCollection& other) {
    Clear();
    rows_.swap(other.rows_);
    other.Clear();
    for (ListItem& row : rows_) {
        row.owner_ = this;
        if (observer_)
            observer_->RowAdded(row.position_);
    }
}

ListItem& ListItemCollection::Add(std::string text) {
    ListItem& row = rows_.emplace_back(std::move(text));
    row.owner_ = this;
    row.position_ = Count();
    if (observer_)
        observer_->RowAdded(row.position_);
    return row;
}

ListItem& ListItemCollection::Item(int position) {
    if (position < 1 || position > Count())
        throw RuntimeError(ErrorNumber::IndexOutOfBounds, "Index out of bounds");
    return rows_[static_cast<std::size_t>(position - 1)];
}

const ListItem& ListItemCollection::Item(int position) const {
    return const_cast<ListItemCollection*>(this)->Item(position);
}

void ListItemCollection::Changed(int position, int subItem) {
    if (observer_)
        observer_->RowChanged(position, subItem);
}

} // namespace zurodid
