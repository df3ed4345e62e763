#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace zurodid {

// One row of a list: the item text (the number column) and sub-items 1 to 3.
class ListItem {
public:
    explicit ListItem(std::string text) : text_(std::move(text)) {}

    const std::string& Text() const { return text_; }
    // Sub-items 1..3; any other index raises RuntimeError(ErrorNumber::InvalidPropertyValue).
    const std::string& SubItems(int index) const;
    void SetSubItems(int index, std::string text);

private:
    friend class ListItemCollection;
    std::string text_;
    std::array<std::string, 3> subItems_;
    class ListItemCollection* owner_ = nullptr;
    int position_ = 0;
};

// Told of every change, so that a view can follow the rows.
class ListRowsObserver {
public:
    virtual ~ListRowsObserver() = default;
    virtual void RowsCleared() = 0;
    virtual void RowAdded(int position) = 0; // 1-based
    virtual void RowChanged(int position, int subItem) = 0;
};

// The ordered rows of a list, addressed by 1-based position, never sorted.
class ListItemCollection {
public:
    ListItemCollection() = default;
    ListItemCollection(const ListItemCollection&) = delete;
    ListItemCollection& operator=(const ListItemCollection&) = delete;

    void Clear();
    // Replaces these rows with those of `other`, which is left empty: a list filled aside is
    // put in place whole, or not at all.
    void TakeRowsOf(ListItemCollection& other);
    // Appends a row; the reference stays valid until the next Clear.
    ListItem& Add(std::string text);
    int Count() const { return static_cast<int>(rows_.size()); }
    // Raises RuntimeError(ErrorNumber::IndexOutOfBounds) outside 1..Count.
    ListItem& Item(int position);
    const ListItem& Item(int position) const;

    void SetObserver(ListRowsObserver* observer) { observer_ = observer; }

private:
    friend class ListItem;
    void Changed(int position, int subItem);

    std::deque<ListItem> rows_; // deque: references to rows survive appends
    ListRowsObserver* observer_ = nullptr;
};

// A list view as the logic sees it: just its rows.
struct ListView {
    ListItemCollection ListItems;
};

} // namespace zurodid
