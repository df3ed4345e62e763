// The list window over real diary files written by the fixture writer and read by the Jet
// engine: the texts as the diary holds them, and a row deleted by the diary program after
// the recordsets were opened.
#include "WindowTestSupport.h"
#include "store/jet/JetEngine.h"
#include "support/LogCapture.h"
#include "tools/make-diary/DiaryWriter.h"
#include "windows/frmList.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

constexpr std::size_t kJet3Page = 2048;

// Does to the file what the diary program's engine does on a delete: flags the slot of the
// row that holds `text` as deleted (0xC000 in the page's row-offset table).
bool DeleteRowHolding(const std::filesystem::path& file, const std::string& text) {
    std::string bytes = ReadBytes(file);
    const std::size_t at = bytes.find(text);
    if (at == std::string::npos)
        return false;
    auto* page = reinterpret_cast<unsigned char*>(bytes.data() + at / kJet3Page * kJet3Page);
    const unsigned offsetInPage = static_cast<unsigned>(at % kJet3Page);
    const unsigned rows = page[8] | (page[9] << 8);
    unsigned end = kJet3Page; // rows are stored from the end of the page backwards
    for (unsigned slot = 0; slot < rows; ++slot) {
        unsigned char* entry = page + 10 + 2 * slot;
        const unsigned start = (entry[0] | (entry[1] << 8)) & 0x1FFFu;
        if (offsetInPage >= start && offsetInPage < end) {
            entry[1] |= 0xC0;
            WriteBytes(file, bytes);
            // A save by the diary program moves the file's time on.
            std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                       std::chrono::seconds(2));
            return true;
        }
        end = start;
    }
    return false;
}

// A file whose time says it was saved long ago is quiet at once; one whose time lies ahead of
// the clock is busy for as long as the quiet period, which only our own watch can measure.
void SetModified(const std::filesystem::path& file, std::chrono::hours fromNow) {
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() + fromNow);
}

class ListOverDiary : public ::testing::Test {
protected:
    void Open() {
        fixture::WriteJet3(diary, file);
        SetModified(file, std::chrono::hours(-1));
        auto workspace = state->DBEngine->CreateWorkspace("", "admin", "");
        auto database = workspace->OpenDatabase(file, false, false, ";PWD=");
        state->DiaryStore = {workspace, database,
                             database->OpenRecordset("Anniversary", dbOpenDynaset),
                             database->OpenRecordset("Appointment", dbOpenDynaset)};
    }

    TempFolder folder;
    std::filesystem::path file = folder.Path() / "Zurodid.mdb";
    std::unique_ptr<ProcessState> state =
        std::make_unique<ProcessState>([path = folder.Path()] { return path; }, MakeJetEngine());
    fixture::Diary diary = fixture::StandardDiary();
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7, 10, 0)};
    frmList list{*state, desktop, clock};
};

TEST_F(ListOverDiary, ShowsTheDiarysTextsAsStored) {
    diary.tables[0].rows = {{At(1960, 12, 9), std::string("วันเกิดคุณแม่")},
                            {At(1990, 12, 8), Null{}},
                            {At(1990, 6, 1), std::string("not in the window")}};
    diary.tables[1].rows = {{At(2026, 12, 7, 9, 5), std::string("ประชุม / meeting")},
                            {At(2026, 12, 8, 23, 59), Null{}}};
    state->AgentSettings.AnniversaryStartUp = 7;
    state->AgentSettings.AppointmentStartUp = 1;
    Open();
    list.ShowAll();

    const auto& anniversaries = list.lvAnniversary.ListItems;
    ASSERT_EQ(anniversaries.Count(), 2);
    EXPECT_EQ(anniversaries.Item(1).SubItems(1), "09/12/2026");
    EXPECT_EQ(anniversaries.Item(1).SubItems(2), "วันเกิดคุณแม่");
    EXPECT_EQ(anniversaries.Item(2).Text(), "002");
    EXPECT_EQ(anniversaries.Item(2).SubItems(2), "");
    const auto& appointments = list.lvAppointment.ListItems;
    ASSERT_EQ(appointments.Count(), 2);
    EXPECT_EQ(appointments.Item(1).SubItems(2), "09:05");
    EXPECT_EQ(appointments.Item(1).SubItems(3), "ประชุม / meeting");
    EXPECT_EQ(appointments.Item(2).SubItems(1), "08/12/2026");
    EXPECT_EQ(appointments.Item(2).SubItems(2), "23:59");
    EXPECT_EQ(appointments.Item(2).SubItems(3), "");
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListOverDiary, ARowDeletedSinceTheOpenAsksForARefreshAndKeepsTheRowsBefore) {
    for (const char* subject : {"first", "second", "third"})
        diary.tables[1].rows.push_back({At(2026, 12, 7, 11, 0), std::string(subject)});
    diary.tables[0].rows = {{At(1990, 12, 7), std::string("birthday")}};
    state->AgentSettings.AppointmentStartUp = 0;
    Open();
    ASSERT_TRUE(DeleteRowHolding(file, "second"));
    list.ShowAll();

    EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 1);
    ASSERT_EQ(list.lvAppointment.ListItems.Count(), 1);
    EXPECT_EQ(list.lvAppointment.ListItems.Item(1).SubItems(3), "first");
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "Please Refresh");
    EXPECT_EQ(desktop.boxes[0].icon, vbInformation);
}

TEST_F(ListOverDiary, ADiaryBeingSavedKeepsTheRowsShownUntilItRests) {
    jet::ReaderOptions options;
    options.quietPeriod = std::chrono::seconds(30);
    options.busyBudget = std::chrono::milliseconds(10);
    state->DBEngine = jet::MakeJetEngine(options);
    diary.tables[1].rows = {{At(2026, 12, 7, 11, 0), std::string("before the save")}};
    Open();
    list.ShowAll();
    ASSERT_EQ(list.lvAppointment.ListItems.Count(), 1);

    std::string bytes = ReadBytes(file);
    const std::size_t at = bytes.find("before the save");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 15, "after  the save");
    WriteBytes(file, bytes);
    SetModified(file, std::chrono::hours(1));
    {
        testing::LogCapture log;
        list.ShowAll();
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("kept the rows it showed: error 3260: "), std::string::npos)
            << log.lines[0];
        ASSERT_EQ(list.lvAppointment.ListItems.Count(), 1);
        EXPECT_EQ(list.lvAppointment.ListItems.Item(1).SubItems(3), "before the save");
        EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 0);
    }

    SetModified(file, std::chrono::hours(-1));
    testing::LogCapture log;
    list.ShowAll();
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(list.lvAppointment.ListItems.Count(), 1);
    EXPECT_EQ(list.lvAppointment.ListItems.Item(1).SubItems(3), "after  the save");
}

} // namespace
} // namespace zurodid::test
