#include "JetTestSupport.h"
#include "platform/Log.h"
#include "store/jet/MdbTableDump.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace zurodid::jettest {
namespace {

constexpr std::size_t kPage = 2048;

struct Slot {
    std::size_t page = 0;
    unsigned slot = 0;
    std::size_t rowStart = 0; // in the file
};

// The data page and slot of the row holding `text`.
Slot SlotHolding(const std::vector<std::uint8_t>& bytes, const std::string& text) {
    const auto found = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    if (found == bytes.end()) {
        throw std::runtime_error("no row holds " + text);
    }
    const auto at = static_cast<std::size_t>(found - bytes.begin());
    const std::size_t page = at / kPage;
    const std::uint8_t* data = bytes.data() + page * kPage;
    const unsigned slots = data[8] | (data[9] << 8);
    unsigned end = kPage;
    for (unsigned slot = 0; slot < slots; ++slot) {
        const unsigned start = (data[10 + 2 * slot] | (data[11 + 2 * slot] << 8)) & 0x1FFF;
        if (at % kPage >= start && at % kPage < end) {
            return {page, slot, page * kPage + start};
        }
        end = start;
    }
    throw std::runtime_error("no slot holds " + text);
}

void FlagSlot(std::vector<std::uint8_t>& bytes, const Slot& slot, std::uint8_t flags) {
    bytes[slot.page * kPage + 10 + 2 * slot.slot + 1] |= flags;
}

// Does to the file what Jet does when the diary program deletes a row: flags its slot
// deleted. The row is the one holding `text`.
void DeleteRowHolding(const std::filesystem::path& file, const std::string& text) {
    auto bytes = ReadBytes(file);
    FlagSlot(bytes, SlotHolding(bytes, text), 0xC0);
    WriteBytes(file, bytes);
}

// Does what Jet does when an edited row no longer fits its page: the row's data goes to
// another page (here: the slot of the row holding `newPlace`, which stops being a row of its
// own) and the row's slot keeps only a pointer to it.
void MoveRow(const std::filesystem::path& file, const std::string& row,
             const std::string& newPlace) {
    auto bytes = ReadBytes(file);
    const Slot from = SlotHolding(bytes, row);
    const Slot to = SlotHolding(bytes, newPlace);
    ASSERT_NE(from.page, to.page);
    const std::uint32_t pointer = static_cast<std::uint32_t>(to.page << 8) | to.slot;
    std::memcpy(bytes.data() + from.rowStart, &pointer, sizeof pointer);
    FlagSlot(bytes, from, 0x40);
    FlagSlot(bytes, to, 0x80);
    WriteBytes(file, bytes);
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
    // The engine's own options: a walk that starts after the change sees it at once.
    auto recordset = OpenDiary(file, "", jet::ReaderOptions{})->OpenRecordset("Appointment", 2);
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

TEST(JetDynaset, AWalkSeesTheFileAsItWasAtItsMoveFirstAndTheNextWalkSeesTheChange) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    recordset->MoveFirst();
    EXPECT_EQ(Subject(*recordset), "Meeting A");

    ReplaceInFile(file, "Meeting A", "Meeting Z");
    ReplaceInFile(file, "Meeting C", "Meeting Y");
    MarkModifiedLater(file);

    EXPECT_EQ(Subject(*recordset), "Meeting A");
    recordset->MoveNext();
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting C"); // no row of the new state mid-walk
    recordset->MoveFirst();
    EXPECT_EQ(Subject(*recordset), "Meeting Z");
    recordset->MoveNext();
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting Y");
}

// Quiet at once (written long ago by its time), or busy for longer than any budget here (its
// time ahead of the clock: only our own watch can tell it has rested).
void MarkQuiet(const std::filesystem::path& file) {
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() -
                                               std::chrono::hours(1));
}
void MarkBusy(const std::filesystem::path& file) {
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() +
                                               std::chrono::hours(1));
}

TEST(JetDynaset, AMoveFirstOnABusyFileFailsAndLeavesTheWalkOnTheStateItHad) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    MarkQuiet(file);
    auto options = FastOptions();
    options.quietPeriod = std::chrono::seconds(30);
    options.busyBudget = std::chrono::milliseconds(10);
    auto recordset = OpenDiary(file, "", options)->OpenRecordset("Appointment", 2);
    recordset->MoveFirst();
    recordset->MoveNext();

    ReplaceInFile(file, "Meeting B", "Meeting X");
    ReplaceInFile(file, "Meeting C", "Meeting W");
    MarkBusy(file);
    EXPECT_EQ(ErrorNumberOf([&] { recordset->MoveFirst(); }), ErrorNumber::DiaryBusy);
    EXPECT_EQ(Subject(*recordset), "Meeting B");
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting C");
    EXPECT_EQ(ErrorNumberOf([&] { OpenDiary(file, "", options); }), ErrorNumber::DiaryBusy);

    // Once the file rests, the next walk reads it.
    MarkQuiet(file);
    recordset->MoveFirst();
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting X");
    recordset->MoveNext();
    EXPECT_EQ(Subject(*recordset), "Meeting W");
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

TEST(JetDynaset, RowMovedToAnotherPageKeepsItsPlaceAndIsReadOnce) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < 60; ++i) { // three data pages
        diary.tables[1].rows.push_back({At(2026, 5, 1) + std::chrono::hours(i),
                                        "Row " + std::to_string(i + 100) + std::string(60, '.')});
    }
    WriteJet3(diary, file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    ASSERT_EQ(recordset->RecordCount(), 60);

    MoveRow(file, "Row 105", "Row 150");
    MarkModifiedLater(file);

    std::vector<std::string> seen;
    int deleted = 0;
    for (recordset->MoveFirst(); !recordset->Eof(); recordset->MoveNext()) {
        try {
            seen.push_back(Subject(*recordset).substr(0, 7));
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), ErrorNumber::RecordDeleted);
            ++deleted;
        }
    }
    // Row 105's place now shows the data it points to; the slot that held that data is no
    // row of its own any more.
    ASSERT_EQ(seen.size(), 59u);
    EXPECT_EQ(seen[5], "Row 150");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Row 150"), 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Row 105"), 0);
    EXPECT_EQ(deleted, 1);
    // A fresh open lists the moved row once, in its original place.
    auto fresh = OpenDiary(file)->OpenRecordset("Appointment", 2);
    const auto rows = ReadAll(*fresh, 2);
    ASSERT_EQ(rows.size(), 59u);
    EXPECT_EQ(std::get<std::string>(rows[5][1]).substr(0, 7), "Row 150");
}

TEST(JetDynaset, VanishedFileIsAnErrorAtTheVisitAndNotACrash) {
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(ThreeAppointments(), file);
    auto recordset = OpenDiary(file)->OpenRecordset("Appointment", 2);
    std::filesystem::remove_all(folder.Path());
    EXPECT_EQ(ErrorNumberOf([&] { recordset->MoveFirst(); }), ErrorNumber::FileNotFound);
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

namespace zurodid::jettest {
namespace {

// Whether `step` made the diary be read: a read needs the reader process, which is killed
// before the step, so a read is told by the log's lines of its loss and its replacement.
bool ReadsTheFile(const std::function<void()>& step) {
    std::ifstream list("/proc/" + std::to_string(::getpid()) + "/task/" +
                       std::to_string(::getpid()) + "/children");
    for (pid_t child; list >> child;)
        ::kill(child, SIGKILL);
    std::vector<std::string> lines;
    SetLogSink([&lines](std::string_view line) { lines.emplace_back(line); });
    step();
    SetLogSink({});
    return !lines.empty();
}

// No rows are kept between walks: the open's rows serve the first walk, and every later walk
// reads the file at its MoveFirst, unchanged or not.
TEST(JetDynaset, EveryWalkAfterTheFirstReadsTheFile) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows.push_back({At(2026, 12, 9, 9, 5), "one"});
    diary.tables[1].rows.push_back({At(2026, 12, 9, 9, 10), "two"});
    fixture::WriteJet3(diary, folder.Path() / "Zurodid.mdb");
    ASSERT_TRUE(jet::StartIsolationServer(&jet::DumpTableWork));
    const auto recordset =
        OpenDiary(folder.Path() / "Zurodid.mdb")->OpenRecordset("Appointment", 2);
    EXPECT_FALSE(ReadsTheFile([&] { EXPECT_EQ(ReadAll(*recordset, 2).size(), 2u); }));
    EXPECT_TRUE(ReadsTheFile([&] { EXPECT_EQ(ReadAll(*recordset, 2).size(), 2u); }));
    EXPECT_TRUE(ReadsTheFile([&] { EXPECT_EQ(ReadAll(*recordset, 2).size(), 2u); }));
    jet::StopIsolationServer();
}

// With the list window shown at start, start-up's early read also serves that window's walk,
// unless the file changed since or start-up is over; the walks after it read the file.
TEST(JetDynaset, AStartUpReadServesTheListWindowsWalkOnlyWhileTheFileHoldsStill) {
    struct Case {
        const char* name;
        bool resaved;      // before the second walk
        bool startUpEnded; // before the second walk
    };
    for (const Case c : {Case{"unchanged", false, false}, Case{"saved_again", true, false},
                         Case{"after_start_up", false, true}}) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = folder.Path() / "Zurodid.mdb";
        const auto write = [&file](const char* subject) {
            auto diary = fixture::StandardDiary();
            diary.tables[1].rows.push_back({At(2026, 12, 9, 9, 5), subject});
            fixture::WriteJet3(diary, file);
        };
        write("one");
        // Saved a while ago, as a diary between two saves is: read early.
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                                   std::chrono::seconds(30));
        ASSERT_TRUE(jet::StartIsolationServer(&jet::DumpTableWork));
        const auto prefetch = PrefetchDiary(file, true);
        const auto appointments = jet::MakeJetEngine(FastOptions(), prefetch)
                                      ->CreateWorkspace("Zurodid", "Admin", "")
                                      ->OpenDatabase(file, false, false, "")
                                      ->OpenRecordset("Appointment", 2);
        EXPECT_FALSE(ReadsTheFile([&] { ReadAll(*appointments, 2); }));
        if (c.resaved)
            write("uno");
        if (c.startUpEnded)
            EndOfStartUpReads(*prefetch);
        std::vector<std::vector<Variant>> rows;
        EXPECT_EQ(ReadsTheFile([&] { rows = ReadAll(*appointments, 2); }),
                  c.resaved || c.startUpEnded);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][1], Variant(std::string(c.resaved ? "uno" : "one")));
        EXPECT_TRUE(ReadsTheFile([&] { ReadAll(*appointments, 2); })) << "the third walk";
        jet::StopIsolationServer();
    }
}

} // namespace
} // namespace zurodid::jettest
