#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "JetTestSupport.h"

namespace zurodid::jettest {
namespace {

constexpr std::size_t kPage = 2048;

// Does to the file what Jet does when the diary program deletes a row: flags its slot
// deleted. The row is the one holding `text`.
void DeleteRowHolding(const std::filesystem::path& file, const std::string& text) {
    auto bytes = ReadBytes(file);
    const auto found = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    ASSERT_NE(found, bytes.end()) << text;
    const auto at = static_cast<std::size_t>(found - bytes.begin());
    std::uint8_t* page = bytes.data() + at / kPage * kPage;
    const unsigned slots = page[8] | (page[9] << 8);
    for (unsigned slot = 0; slot < slots; ++slot) {
        std::uint8_t* entry = page + 10 + 2 * slot;
        const unsigned start = (entry[0] | (entry[1] << 8)) & 0x1FFF;
        const unsigned end =
            slot == 0 ? kPage : ((page[10 + 2 * (slot - 1)] | (page[11 + 2 * (slot - 1)] << 8)) & 0x1FFF);
        if (at % kPage >= start && at % kPage < end) {
            entry[1] |= 0xC0;
            WriteBytes(file, bytes);
            return;
        }
    }
    FAIL() << "no slot holds " << text;
}

void ReplaceInFile(const std::filesystem::path& file, const std::string& from,
                   const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    auto bytes = ReadBytes(file);
    const auto found = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    ASSERT_NE(found, bytes.end()) << from;
    std::copy(to.begin(), to.end(), found);
    WriteBytes(file, bytes);
}

// File times move in steps of a clock tick; a test that changes the file right after reading
// it makes the change visible the way a later save would.
void MarkModifiedLater(const std::filesystem::path& file) {
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                               std::chrono::seconds(2));
}

fixture::Diary ThreeAppointments() {
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows = {{At(2026, 5, 1, 9, 0), std::string("Meeting A")},
                            {At(2026, 5, 2, 9, 0), std::string("Meeting B")},
                            {At(2026, 5, 3, 9, 0), std::string("Meeting C")}};
    return diary;
}

std::string Subject(Recordset& recordset) {
    return std::get<std::string>(recordset.Fields(1).Value());
}

TEST(JetDynaset, RowDeletedAfterTheOpenRaisesRecordDeletedWhenVisited) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    ASSERT_EQ(recordset->RecordCount(), 3);

    DeleteRowHolding(file, "Meeting B");
    MarkModifiedLater(file);

    recordset->MoveFirst();
    EXPECT_EQ(Subject(*recordset), "Meeting A");
    recordset->MoveNext();
    EXPECT_EQ(ErrorNumberOf([&] { recordset->Fields(0).Value(); }), ErrorNumber::RecordDeleted);
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting C");
    recordset->MoveNext();
    EXPECT_TRUE(recordset->Eof());
}

TEST(JetDynaset, ChangedValueIsSeenAtTheNextVisit) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    recordset->MoveFirst();
    EXPECT_EQ(Subject(*recordset), "Meeting A");

    ReplaceInFile(file, "Meeting A", "Meeting Z");
    ReplaceInFile(file, "Meeting C", "Meeting Y");
    MarkModifiedLater(file);

    EXPECT_EQ(Subject(*recordset), "Meeting A"); // the same visit keeps its values
    recordset->MoveNext();
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting Y");
    recordset->MoveFirst();
    EXPECT_EQ(Subject(*recordset), "Meeting Z");
}

TEST(JetDynaset, RowsAddedAfterTheOpenAreNotSeen) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    auto diary = ThreeAppointments();
    WriteJet3(diary, file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);

    diary.tables[1].rows.push_back({At(2026, 5, 4, 9, 0), std::string("Meeting D")});
    WriteJet3(diary, file);

    EXPECT_EQ(recordset->RecordCount(), 3);
    std::vector<std::string> seen;
    for (recordset->MoveFirst(); !recordset->Eof(); recordset->MoveNext()) {
        seen.push_back(Subject(*recordset));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Meeting A", "Meeting B", "Meeting C"}));
    // A new recordset, as the agent's Refresh opens, sees the new row.
    EXPECT_EQ(OpenDiary(file)->OpenRecordset("Appointment", 2)->RecordCount(), 4);
}

TEST(JetDynaset, VanishedFileIsAnErrorAtTheVisitAndNotACrash) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    std::filesystem::remove_all(folder.Path());
    recordset->MoveFirst();
    EXPECT_EQ(ErrorNumberOf([&] { recordset->Fields(1).Value(); }), ErrorNumber::FileNotFound);
}

TEST(JetDynaset, NeverWritesTheDiaryNorCreatesFilesBesideIt) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    const auto damaged = folder / "Damaged.mdb";
    auto broken = ReadBytes(file);
    std::fill(broken.begin() + 2 * kPage, broken.begin() + 3 * kPage, 0xFF); // the catalog
    WriteBytes(damaged, broken);
    const auto before = ReadBytes(file);
    const auto modified = std::filesystem::last_write_time(file);
    const auto damagedModified = std::filesystem::last_write_time(damaged);

    auto database = OpenDiary(file);
    auto recordset = database->OpenRecordset("Appointment", 2);
    ReadAll(*recordset, 2);
    // A refresh: a second set of objects over the same file, and a re-read of the first.
    auto again = OpenDiary(file)->OpenRecordset("Appointment", 2);
    ReadAll(*again, 2);
    EXPECT_EQ(ErrorNumberOf([&] { OpenDiary(damaged)->OpenRecordset("Appointment", 2); }),
              ErrorNumber::DatabaseDamaged);

    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(std::filesystem::last_write_time(file), modified);
    EXPECT_EQ(ReadBytes(damaged), broken);
    EXPECT_EQ(std::filesystem::last_write_time(damaged), damagedModified);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Damaged.mdb", "Zurodid.mdb"}));
}

} // namespace
} // namespace zurodid::jettest
