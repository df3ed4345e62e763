// What the diary's place can hold besides a diary, and texts longer than any diary holds.
#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"
#include "support/FileStates.h"
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

// The first table's subjects as read through the engine, or "error N".
std::string Outcome(const std::filesystem::path& file) {
    try {
        auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
        std::string subjects;
        for (const auto& row : ReadAll(*recordset, 2))
            subjects += std::get<std::string>(row[1]) + ";";
        return subjects;
    } catch (const RuntimeError& error) {
        return "error " + std::to_string(error.Number());
    }
}

TEST(DiaryBounds, EveryKindOfFileInTheDiaryPlaceGivesAClearOutcome) {
    using testing::FileState;
    TempFolder source;
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows = {{At(2026, 12, 7, 9, 5), std::string("ฟัน")}};
    fixture::WriteJet3(diary, source / "whole.mdb");
    const auto bytes = ReadBytes(source / "whole.mdb");
    const std::string whole(bytes.begin(), bytes.end());

    const std::pair<FileState, std::string> table[] = {
        {FileState::Folder, "error 3343"},
        {FileState::Fifo, "error 3343"},
        {FileState::Device, "error 3343"},
        {FileState::LinkToDevice, "error 3343"},
        {FileState::LinkToFile, "ฟัน;"},
        {FileState::OverBound, "ฟัน;"}, // pages past the diary's own are never asked for
        {FileState::Huge, "ฟัน;"},
        {FileState::InvalidBytes, "error 3343"},
        {FileState::Unreadable, "error 3051"},
    };
    for (const auto& [state, expected] : table) {
        TempFolder folder, elsewhere;
        const auto file = folder / "Zurodid.mdb";
        testing::MakeFileState(file, state, whole, elsewhere.Path());
        const std::string outcome =
            state == FileState::Unreadable
                ? testing::WithoutPermissionOverride([&] { return Outcome(file); })
                : Outcome(file);
        EXPECT_EQ(outcome, expected) << static_cast<int>(state);
    }
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
