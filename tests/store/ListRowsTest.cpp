#include "store/ListRows.h"

#include "platform/RuntimeError.h"

#include <gtest/gtest.h>
#include <vector>

namespace zurodid {
namespace {

struct Recorder : ListRowsObserver {
    std::vector<std::string> events;
    void RowsCleared() override { events.push_back("cleared"); }
    void RowAdded(int position) override { events.push_back("added " + std::to_string(position)); }
    void RowChanged(int position, int subItem) override {
        events.push_back("changed " + std::to_string(position) + "." + std::to_string(subItem));
    }
};

TEST(ListRows, KeepRowsInInsertionOrderByPosition) {
    ListView view;
    Recorder recorder;
    view.ListItems.SetObserver(&recorder);
    view.ListItems.Add("old");
    view.ListItems.Clear();
    ListItem& first = view.ListItems.Add("001");
    first.SetSubItems(2, "09:05");
    for (int i = 2; i <= 1000; ++i)
        view.ListItems.Add(std::to_string(i));
    first.SetSubItems(3, ""); // a reference taken before many appends still works
    EXPECT_EQ(view.ListItems.Count(), 1000);
    EXPECT_EQ(view.ListItems.Item(1).Text(), "001");
    EXPECT_EQ(view.ListItems.Item(1).SubItems(2), "09:05");
    EXPECT_EQ(view.ListItems.Item(1).SubItems(1), "");
    EXPECT_EQ(view.ListItems.Item(1000).Text(), "1000");
    EXPECT_EQ(recorder.events[0], "added 1");
    EXPECT_EQ(recorder.events[1], "cleared");
    EXPECT_EQ(recorder.events[3], "changed 1.2");
    EXPECT_EQ(recorder.events.back(), "changed 1.3");
}

TEST(ListRows, BadPositionsAndSubItemsRaiseErrors) {
    ListView view;
    view.ListItems.Add("001");
    auto numberOf = [](auto&& action) {
        try {
            action();
        } catch (const RuntimeError& error) {
            return error.Number();
        }
        return 0;
    };
    EXPECT_EQ(numberOf([&] { view.ListItems.Item(0); }), ErrorNumber::IndexOutOfBounds);
    EXPECT_EQ(numberOf([&] { view.ListItems.Item(2); }), ErrorNumber::IndexOutOfBounds);
    EXPECT_EQ(numberOf([&] { view.ListItems.Item(1).SubItems(4); }),
              ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(numberOf([&] { view.ListItems.Item(1).SetSubItems(0, "x"); }),
              ErrorNumber::InvalidPropertyValue);
}

} // namespace
} // namespace zurodid
