#include "JetTestSupport.h"
#include "tools/make-diary/DiaryDescription.h"

#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

using fixture::ParseDiaryDescription;

const DateTime kNow = At(2026, 12, 8, 14, 30, 15);

TEST(DiaryDescription, ReadsDatesRelativeAndAbsolute) {
    const std::vector<std::pair<std::string, DateTime>> cases = {
        {"now", kNow},
        {"now+2m", kNow + std::chrono::minutes(2)},
        {"now-1h", kNow - std::chrono::hours(1)},
        {"now+30s", kNow + std::chrono::seconds(30)},
        {"now+3d", kNow + std::chrono::days(3)},
        {"+0d 09:05", At(2026, 12, 8, 9, 5)},
        {"+1d", At(2026, 12, 9)},
        {"-2d 18:00:30", At(2026, 12, 6, 18, 0, 30)},
        {"+30d 23:59", At(2027, 1, 7, 23, 59)},
        {"1850-03-01 13:45:30", At(1850, 3, 1, 13, 45, 30)},
        {"2024-02-29", At(2024, 2, 29)},
    };
    for (const auto& [text, expected] : cases) {
        const auto diary = ParseDiaryDescription("table Appointment\nrow " + text + " | x\n", kNow);
        EXPECT_EQ(diary.tables.at(0).rows.at(0).at(0), Variant(expected)) << text;
    }
}

TEST(DiaryDescription, ReadsTablesColumnsNullsQuotesAndRepeats) {
    const auto diary = ParseDiaryDescription(R"(# comment
password ลับมาก
table Appointment
row +0d 09:05 | ประชุม
row null | "a | b ""quoted"" "
table Extra
column When datetime
column Count long
column Note memo
repeat 3 now+{n}m | {n} | Note {n}
)",
                                             kNow);
    EXPECT_EQ(diary.password, "ลับมาก");
    ASSERT_EQ(diary.tables.size(), 2u);
    EXPECT_EQ(diary.tables[0].columns.size(), 2u);
    EXPECT_EQ(diary.tables[0].rows[1],
              (std::vector<Variant>{Null{}, std::string("a | b \"quoted\" ")}));
    ASSERT_EQ(diary.tables[1].rows.size(), 3u);
    EXPECT_EQ(diary.tables[1].rows[2],
              (std::vector<Variant>{kNow + std::chrono::minutes(3), 3.0, std::string("Note 3")}));
}

TEST(DiaryDescription, NamesTheLineOfAMistake) {
    const std::vector<std::string> mistakes = {
        "row now | x",                           // no table yet
        "table T\nrow now | x | y",              // too many values
        "table Appointment\nrow 2024-02-30 | x", // no such day
        "table Appointment\nrow +1d 25:00 | x",
        "table Appointment\nrow now+5 | x",
        "table T\ncolumn N number",
        "table T\ncolumn N long\nrow 1.x",
        "table T\nrow \"open | x",
        "frobnicate",
    };
    for (const auto& text : mistakes) {
        try {
            ParseDiaryDescription(text, kNow);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("line ", 0), 0u) << error.what();
        }
    }
}

TEST(DiaryWriter, RefusesValuesItCannotStore) {
    TempFolder folder;
    const auto tooLong = [] {
        auto diary = fixture::StandardDiary();
        diary.tables[0].rows.push_back({At(2000, 1, 1), std::string(256, 'x')});
        return diary;
    };
    const auto wrongType = [] {
        auto diary = fixture::StandardDiary();
        diary.tables[0].rows.push_back({std::string("soon"), std::string("x")});
        return diary;
    };
    const auto longPassword = [] {
        auto diary = fixture::StandardDiary();
        diary.password = std::string(21, 'p');
        return diary;
    };
    for (const auto& diary : {tooLong(), wrongType(), longPassword()}) {
        EXPECT_THROW(WriteJet3(diary, folder / "x.mdb"), std::runtime_error);
        EXPECT_FALSE(std::filesystem::exists(folder / "x.mdb"));
    }
}

} // namespace
} // namespace zurodid::jettest
