#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"
#include "tools/make-diary/DiaryDamage.h"

#include <gtest/gtest.h>
#include <random>

namespace zurodid::jettest {
namespace {

using fixture::ColumnType;

std::string Repeat(std::string_view piece, std::size_t bytes) {
    std::string out;
    while (out.size() < bytes)
        out += piece;
    return out;
}

// A diary's texts are short; a damaged memo can say 16 MB, and a page chain that loops can fill
// them. What reaches the agent is at most kMaxTextBytes, cut on a character boundary.
TEST(DiaryBounds, TextsBeyondTheBoundArriveCutOnACharacter) {
    const std::string thai = Repeat("วันเกิดคุณแม่ ", 150000);  // three bytes a letter
    const std::string chained = Repeat("0123456789", 6000); // spans pages
    struct Case {
        const char* name;
        std::string memo;
        bool loop;
        std::string expected;
    };
    const Case cases[] = {
        {"just under the bound", Repeat("ก", jet::kMaxTextBytes - 3), false,
         Repeat("ก", jet::kMaxTextBytes - 3)},
        {"Thai beyond it", thai, false, thai.substr(0, jet::kMaxTextBytes - 1)},
        {"ASCII beyond it", std::string(jet::kMaxTextBytes + 1, 'x'), false,
         std::string(jet::kMaxTextBytes, 'x')},
        {"a looping chain that says 16 MB", chained, true,
         Repeat(chained, jet::kMaxTextBytes).substr(0, jet::kMaxTextBytes)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        auto diary = fixture::StandardDiary();
        diary.tables[1].columns[1].type = ColumnType::Memo;
        diary.tables[1].rows = {{At(2026, 12, 7, 9, 5), c.memo},
                                {At(2026, 12, 7, 10, 0), std::string("after")}};
        const auto file = folder / "Zurodid.mdb";
        fixture::WriteJet3(diary, file);
        if (c.loop) {
            std::mt19937_64 unused;
            const auto damaged = fixture::damage::Damage(
                ReadBytes(file), fixture::damage::Kind::LoopingMemo, unused);
            ASSERT_NE(damaged, ReadBytes(file));
            WriteBytes(file, damaged);
        }
        auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
        const auto rows = ReadAll(*recordset, 2);
        ASSERT_EQ(rows.size(), 2u);
        const auto& text = std::get<std::string>(rows[0][1]);
        EXPECT_LE(text.size(), jet::kMaxTextBytes);
        EXPECT_EQ(text.size(), c.expected.size());
        EXPECT_TRUE(text == c.expected) << "the text differs from the expected start";
        EXPECT_EQ(std::get<std::string>(rows[1][1]), "after");
    }
}

} // namespace
} // namespace zurodid::jettest
