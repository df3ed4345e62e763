#include "JetTestSupport.h"
#include "store/jet/JetErrors.h"
#include "store/jet/JetHeader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

using fixture::ColumnType;

TEST(JetEngine, ReadsEveryValueAsWritten) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[1].columns.push_back({"Place", ColumnType::Text});
    diary.tables[1].columns.push_back({"Minutes", ColumnType::Long});
    diary.tables[1].columns.push_back({"Cost", ColumnType::Double});
    diary.tables[1].columns.push_back({"Notes", ColumnType::Memo});
    const std::vector<std::vector<Variant>> rows = {
        {At(2026, 12, 8, 9, 5, 0), std::string("ประชุมทีม"), std::string("ห้อง 1"), 30.0, 12.5,
         std::string("บันทึก")},
        {At(1850, 3, 1, 13, 45, 30), Null{}, Null{}, Null{}, Null{}, Null{}},
        {At(1899, 12, 29, 23, 59, 59), std::string(""), std::string("x"), -2147483648.0, -0.25,
         std::string("")},
        {Null{}, std::string("Dentist"), Null{}, 2147483647.0, 1e300, std::string("a")},
    };
    diary.tables[1].rows = rows;
    WriteJet3(diary, folder / "Zurodid.mdb");

    auto recordset = OpenDiary(folder / "Zurodid.mdb")->OpenRecordset("Appointment", 2);
    EXPECT_EQ(ReadAll(*recordset, 6), rows);
}

TEST(JetEngine, ReadsLongMemosWhole) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[0].columns[1].type = ColumnType::Memo;
    std::string thai;
    while (thai.size() < 60000) { // many pages, within the bound on a text
        thai += "วันเกิดคุณแม่ ";
    }
    const std::vector<std::string> memos = {"short", std::string(1500, 'm'), std::string(1024, 'i'),
                                            std::string(1025, 'j'), thai};
    for (const auto& memo : memos) {
        diary.tables[0].rows.push_back({At(2000, 1, 1), memo});
    }
    WriteJet3(diary, folder / "Zurodid.mdb");

    auto recordset = OpenDiary(folder / "Zurodid.mdb")->OpenRecordset("Anniversary", 2);
    const auto read = ReadAll(*recordset, 2);
    ASSERT_EQ(read.size(), memos.size());
    for (std::size_t i = 0; i < memos.size(); ++i) {
        EXPECT_EQ(std::get<std::string>(read[i][1]), memos[i]) << "memo " << i;
    }
}

TEST(JetEngine, ReadsTablesOfManyPages) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    constexpr int kRows = 40000;
    for (int i = 0; i < kRows; ++i) {
        diary.tables[0].rows.push_back(
            {At(1990, 1, 1) + std::chrono::days(i % 365), "วันเกิด " + std::to_string(i)});
        diary.tables[1].rows.push_back(
            {At(2026, 1, 1) + std::chrono::minutes(i), "นัด " + std::to_string(i)});
    }
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(diary, file);
    ASSERT_GT(std::filesystem::file_size(file), 400u * 2048u); // hundreds of data pages

    auto database = OpenDiary(file);
    for (const char* name : {"Anniversary", "Appointment"}) {
        auto recordset = database->OpenRecordset(name, 2);
        const auto rows = ReadAll(*recordset, 2);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows)) << name;
        const std::string prefix = std::string(name) == "Anniversary" ? "วันเกิด " : "นัด ";
        for (int i : {0, 1, 12345, kRows - 1}) {
            EXPECT_EQ(std::get<std::string>(rows[i][1]), prefix + std::to_string(i)) << name;
        }
        EXPECT_EQ(std::get<DateTime>(rows[kRows - 1][0]),
                  std::string(name) == "Anniversary"
                      ? At(1990, 1, 1) + std::chrono::days((kRows - 1) % 365)
                      : At(2026, 1, 1) + std::chrono::minutes(kRows - 1));
    }
}

struct PasswordCase {
    const char* stored;
    const char* typed;
    int expected;
};

class JetPassword : public ::testing::TestWithParam<PasswordCase> {};

TEST_P(JetPassword, OpensOnlyWithTheStoredPassword) {
    const auto& param = GetParam();
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.password = param.stored;
    diary.tables[1].rows.push_back({At(2026, 1, 2, 3, 4), std::string("secret row")});
    WriteJet3(diary, folder / "Zurodid.mdb");

    std::shared_ptr<Database> database;
    EXPECT_EQ(ErrorNumberOf([&] { database = OpenDiary(folder / "Zurodid.mdb", param.typed); }),
              param.expected);
    if (database) {
        auto recordset = database->OpenRecordset("Appointment", 2);
        EXPECT_EQ(ReadAll(*recordset, 2).size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JetPassword,
    ::testing::Values(PasswordCase{"", "", 0}, PasswordCase{"", "anything", 0},
                      PasswordCase{"Secret", "Secret", 0},
                      PasswordCase{"Secret", "", ErrorNumber::NotValidPassword},
                      PasswordCase{"Secret", "secret", ErrorNumber::NotValidPassword},
                      PasswordCase{"Secret", "Secret ", ErrorNumber::NotValidPassword},
                      PasswordCase{"Secret", "Secre", ErrorNumber::NotValidPassword},
                      PasswordCase{"ลับมาก", "ลับมาก", 0},
                      PasswordCase{"ลับมาก", "ลับ", ErrorNumber::NotValidPassword},
                      PasswordCase{"a;b=c", "a;b=c", 0},
                      PasswordCase{"twenty-characters-xx", "twenty-characters-xx", 0}));

TEST(JetConnect, PasswordIsTheRestAfterPwd) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {";PWD=", ""}, {";PWD=abc", "abc"}, {";pwd=abc", "abc"},    {";PWD=a;b", "a;b"},
        {"", ""},      {"ODBC;PWD=x", "x"}, {";UID=me;PWD=x", "x"}, {";XPWD=x", ""},
    };
    for (const auto& [connect, password] : cases) {
        EXPECT_EQ(jet::PasswordOfConnect(connect), password) << connect;
    }
}

TEST(JetEngine, RaisesTheEngineErrorsOfItsOperations) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows.push_back({At(2026, 1, 2, 3, 4), std::string("one")});
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(diary, file);
    std::filesystem::create_directory(folder / "folder.mdb");
    WriteBytes(folder / "text.mdb", {'h', 'e', 'l', 'l', 'o'});
    WriteBytes(folder / "empty.mdb", {});
    auto header = ReadBytes(file);
    auto truncated = header;
    truncated.resize(100);
    WriteBytes(folder / "truncated.mdb", truncated);
    auto ace = header;
    std::memcpy(ace.data() + 4, "Standard ACE DB", 15);
    WriteBytes(folder / "ace.accdb", ace);
    auto version2007 = header;
    version2007[0x14] = 2;
    WriteBytes(folder / "v2007.mdb", version2007);

    auto database = OpenDiary(file);
    const std::vector<std::pair<std::function<void()>, int>> cases = {
        {[&] { OpenDiary(folder / "missing.mdb"); }, ErrorNumber::FileNotFound},
        {[&] { OpenDiary(folder / "gone" / "Zurodid.mdb"); }, ErrorNumber::FileNotFound},
        {[&] { OpenDiary(folder / "folder.mdb"); }, ErrorNumber::UnrecognizedFormat},
        {[&] { OpenDiary(folder / "text.mdb"); }, ErrorNumber::UnrecognizedFormat},
        {[&] { OpenDiary(folder / "empty.mdb"); }, ErrorNumber::UnrecognizedFormat},
        {[&] { OpenDiary(folder / "truncated.mdb"); }, ErrorNumber::DatabaseDamaged},
        {[&] { OpenDiary(folder / "ace.accdb"); }, ErrorNumber::UnrecognizedFormat},
        {[&] { OpenDiary(folder / "v2007.mdb"); }, ErrorNumber::UnrecognizedFormat},
        {[&] { database->OpenRecordset("Birthdays", 2); }, ErrorNumber::TableNotFound},
        {[&] { database->OpenRecordset("Appointment", 4); }, jet::kInvalidArgument},
        {[&] { database->OpenRecordset("Anniversary", 2)->MoveFirst(); },
         ErrorNumber::NoCurrentRecord},
        {[&] { database->OpenRecordset("Anniversary", 2)->Fields(0).Value(); },
         ErrorNumber::NoCurrentRecord},
        {[&] {
             auto rs = database->OpenRecordset("Appointment", 2);
             rs->MoveNext();
             rs->Fields(0).Value();
         },
         ErrorNumber::NoCurrentRecord},
        {[&] {
             auto rs = database->OpenRecordset("Appointment", 2);
             rs->MoveNext();
             rs->MoveNext();
         },
         ErrorNumber::NoCurrentRecord},
        {[&] { database->OpenRecordset("Appointment", 2)->Fields(2).Value(); }, jet::kItemNotFound},
        {[&] { database->OpenRecordset("Appointment", 2)->Fields(-1).Value(); },
         jet::kItemNotFound},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ErrorNumberOf(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(JetEngine, EmptyTableHasNoRecordsAndStartsAtEof) {
    TempFolder folder;
    WriteJet3(fixture::StandardDiary(), folder / "Zurodid.mdb");
    auto recordset = OpenDiary(folder / "Zurodid.mdb")->OpenRecordset("Anniversary", 2);
    EXPECT_EQ(recordset->RecordCount(), 0);
    EXPECT_TRUE(recordset->Eof());
}

TEST(JetEngine, TableNamesMatchWithoutRegardToCase) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows.push_back({At(2026, 1, 2), std::string("x")});
    WriteJet3(diary, folder / "Zurodid.mdb");
    auto recordset = OpenDiary(folder / "Zurodid.mdb")->OpenRecordset("APPOINTMENT", 2);
    EXPECT_EQ(recordset->RecordCount(), 1);
}

} // namespace
} // namespace zurodid::jettest
