#include "windows/ListRowsModel.h"

#include "platform/Text.h"

#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

// A cell shows at most kMaxDisplayCharacters characters, the cut marked; the row keeps its text.
TEST(ListRowsModel, LongCellsAreCutForDisplayOnly) {
    const std::pair<std::string, QString> cases[] = {
        {"09:05", "09:05"},
        {std::string(70000, 'a'), QString(1023, 'a') + QString::fromUtf8("…")},
    };
    ListItemCollection rows;
    for (const auto& [text, shown] : cases)
        rows.Add("001").SetSubItems(3, text);
    ListRowsModel model(rows, {"", "", "", ""});
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(model.data(model.index(row, 3)).toString(), cases[row].second) << row;
        EXPECT_EQ(rows.Item(row + 1).SubItems(3), cases[row].first) << row;
    }
}

} // namespace
} // namespace zurodid::test
