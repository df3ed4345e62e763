#include "windows/ListRowsModel.h"

#include "platform/Text.h"

#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

// A cell shows at most kMaxDisplayCharacters characters, the cut marked; the row keeps its text.
TEST(ListRowsModel, LongCellsAreCutForDisplayOnly) {
    std::string longThai;
    while (longThai.size() < 3 * 1500)
        longThai += "ก";
    struct Case {
        std::string text;
        QString shown;
    };
    const Case cases[] = {
        {"09:05", "09:05"},
        {std::string(1024, 'a'), QString(1024, 'a')},
        {std::string(70000, 'a'), QString(1023, 'a') + QString::fromUtf8("…")},
        {longThai, QString::fromUtf8("ก").repeated(1023) + QString::fromUtf8("…")},
    };
    ListItemCollection rows;
    for (const Case& c : cases)
        rows.Add("001").SetSubItems(3, c.text);
    ListRowsModel model(rows, {"", "", "", ""});
    for (int row = 0; row < static_cast<int>(std::size(cases)); ++row) {
        EXPECT_EQ(model.data(model.index(row, 3)).toString(), cases[row].shown) << row;
        EXPECT_EQ(rows.Item(row + 1).SubItems(3), cases[row].text) << row;
    }
}

} // namespace
} // namespace zurodid::test
