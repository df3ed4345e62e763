// Start-up over real Jet files written by the fixture writer and read by the real engine.
#include "agent/AgentFixture.h"
#include "support/FileStates.h"
#include "support/LogCapture.h"
#include "tools/make-diary/DiaryWriter.h"

#include <gtest/gtest.h>

namespace zurodid::testing {
namespace {

class RealDiary : public ::testing::Test {
protected:
    RealDiary()
        : state([this] { return folder.Path(); }, MakeJetEngine()), agent(state, desktop, clock) {
        clock.now = At(2026, 12, 7, 9, 0);
    }

    void WriteDiary(std::string password = {}, bool withAppointmentTable = true) {
        fixture::Diary diary = fixture::StandardDiary();
        diary.password = std::move(password);
        for (auto& table : diary.tables)
            if (table.name == "Appointment")
                table.rows = {{Variant{At(2026, 12, 7, 9, 5)}, Variant{std::string("ทันตแพทย์")}},
                              {Variant{At(2026, 12, 7, 10, 0)}, Variant{Null{}}},
                              {Variant{At(2026, 12, 9, 8, 0)}, Variant{std::string("later")}}};
        if (!withAppointmentTable)
            std::erase_if(diary.tables, [](const auto& t) { return t.name == "Appointment"; });
        fixture::WriteJet3(diary, folder / "Zurodid.mdb");
    }
    void Settings(std::string_view lines) {
        WriteBytes(folder / "Zurodid.ini", "[Agent]\r\n" + std::string(lines));
    }

    TempFolder folder;
    FakeDesktop desktop;
    FakeClock clock;
    ProcessState state;
    frmAgent agent;
};

TEST_F(RealDiary, StartsAndListsTodaysAppointments) {
    WriteDiary();
    agent.Form_Load();
    ASSERT_EQ(agent.lvAppointment.ListItems.Count(), 2);
    const ListItem& first = agent.lvAppointment.ListItems.Item(1);
    EXPECT_EQ(first.Text(), "001");
    EXPECT_EQ(first.SubItems(1), "07/12/2026");
    EXPECT_EQ(first.SubItems(2), "09:05");
    EXPECT_EQ(first.SubItems(3), "ทันตแพทย์");
    EXPECT_EQ(agent.lvAppointment.ListItems.Item(2).SubItems(3), "");
    EXPECT_EQ(desktop.timerEnabled, 1);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 0) << "no settings file";
}

TEST_F(RealDiary, SettingsDecideTheListWindowAndTheReach) {
    WriteDiary();
    struct Case {
        const char* settings;
        int listWindows;
        int rows;
        bool timer;
    };
    const Case cases[] = {
        {"StartUpRemind=1\r\n", 1, 2, true},
        {"StartUpRemind=1.4\r\nAppointmentStartUp=2\r\n", 1, 3, true},
        {"StartUpRemind=1.5\r\n", 0, 2, true},
        {"StartUpRemind=2\r\n", 0, 2, true},
        {"StartUpRemind=1\r\nAnniversaryStartUp=40000\r\nAppointmentStartUp=2\r\n", 0, 0, false},
    };
    for (const auto& c : cases) {
        FakeDesktop fresh;
        ProcessState own([this] { return folder.Path(); }, MakeJetEngine());
        frmAgent a(own, fresh, clock);
        Settings(c.settings);
        a.Form_Load();
        EXPECT_EQ(fresh.ShowCount(WindowName::frmList), c.listWindows) << c.settings;
        EXPECT_EQ(a.lvAppointment.ListItems.Count(), c.rows) << c.settings;
        EXPECT_EQ(fresh.timerEnabled, c.timer ? 1 : 0) << c.settings;
        EXPECT_EQ(fresh.registrations.size(), 1u) << c.settings;
    }
}

TEST_F(RealDiary, ADiaryThatComesLateIsReadOnItsOwnAndRemindsOnTime) {
    Settings("StartUpRemind=1\r\n");
    clock.now = At(2026, 12, 7, 9, 0, 0);
    agent.Form_Load();
    EXPECT_EQ(desktop.timerEnabled, 1) << "the timer runs without a diary";
    EXPECT_FALSE(state.DiaryStore.dbDiary);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 0) << "the list window waits for a read";

    // A diary without the table is still no diary to remind from; nothing half-open is kept.
    WriteDiary({}, /*withAppointmentTable=*/false);
    clock.now = At(2026, 12, 7, 9, 1, 0);
    agent.Timer1_Timer();
    EXPECT_FALSE(state.DiaryStore.dbDiary);

    // The drive is mounted: the file changed and held still for a tick is read at once.
    WriteDiary();
    for (int s = 1; s <= 3; ++s) {
        clock.now = At(2026, 12, 7, 9, 1, s);
        agent.Timer1_Timer();
    }
    EXPECT_TRUE(state.DiaryStore.rsAppointment);
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 2);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1) << "the start-up's list window, late";
    clock.now = At(2026, 12, 7, 9, 5, 0);
    agent.Timer1_Timer();
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "09:05 : ทันตแพทย์");
}

// Start-up and a Refresh with each kind of file in the place of the settings, then of the
// diary: both end (a hang stops the suite at its timeout); a settings file that cannot be read
// whole is said once.
TEST_F(RealDiary, StartAndRefreshEndOverEveryKindOfFileInTheirPlace) {
    using testing::FileState;
    WriteDiary();
    const std::string diary = ReadBytes(folder / "Zurodid.mdb");
    const std::string settings = "[Agent]\r\nAppointmentStartUp=2\r\n"; // 3 rows, not 2
    for (const auto& [name, fileState] : testing::kFileStates) {
        const bool readable = fileState == FileState::LinkToFile ||
                              fileState == FileState::OverBound || fileState == FileState::Huge;
        for (const bool diaryInPlace : {false, true}) {
            SCOPED_TRACE(std::string(name) + (diaryInPlace ? " as the diary" : " as the settings"));
            TempFolder place, elsewhere;
            WriteBytes(place / (diaryInPlace ? "Zurodid.ini" : "Zurodid.mdb"),
                       diaryInPlace ? settings : diary);
            testing::MakeFileState(place / (diaryInPlace ? "Zurodid.mdb" : "Zurodid.ini"),
                                   fileState, diaryInPlace ? diary : settings, elsewhere.Path());
            auto startAndRefresh = [&] {
                FakeDesktop fresh;
                ProcessState own([&] { return place.Path(); }, MakeJetEngine());
                frmAgent a(own, fresh, clock);
                LogCapture log;
                a.Form_Load();
                a.mnusubpopup_Click(static_cast<std::int16_t>(PopupItem::Refresh));
                return "rows " + std::to_string(a.lvAppointment.ListItems.Count()) + ", timer " +
                       std::to_string(fresh.timerEnabled) + ", lines " +
                       std::to_string(log.lines.size());
            };
            const std::string outcome = fileState == FileState::Unreadable
                                            ? testing::WithoutPermissionOverride(startAndRefresh)
                                            : startAndRefresh();
            if (diaryInPlace && !readable) {
                // Nothing listed and the failure said; how often and whether the timer runs
                // on is the start-up's own rule.
                EXPECT_TRUE(outcome.starts_with("rows 0,")) << outcome;
                EXPECT_EQ(outcome.find("lines 0"), std::string::npos) << outcome;
            } else if (diaryInPlace) {
                EXPECT_EQ(outcome, "rows 3, timer 2, lines 0");
            } else {
                const bool said =
                    fileState != FileState::LinkToFile && fileState != FileState::InvalidBytes;
                EXPECT_EQ(outcome, std::string(readable ? "rows 3" : "rows 2") +
                                       ", timer 2, lines " + (said ? "1" : "0"));
            }
        }
    }
}

TEST_F(RealDiary, TwoWrongPasswordsThenTheRightOne) {
    WriteDiary("Secret");
    Settings("StartUpRemind=1\r\n");
    const std::vector<std::string> typed = {"secret", "", "Secret"};
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            state.DatabasePassword =
                typed.at(static_cast<std::size_t>(desktop.ShowCount(WindowName::frmLogIn) - 1));
    };
    agent.Form_Load();
    EXPECT_EQ(desktop.ShowCount(WindowName::frmLogIn), 3);
    EXPECT_EQ(desktop.registrations.size(), 1u);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1);
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 2);
    EXPECT_EQ(desktop.timerEnabled, 1);
}

TEST_F(RealDiary, CancelAtTheLogInEndsTheProcess) {
    WriteDiary("Secret");
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            desktop.EndProcess();
    };
    EXPECT_THROW(agent.Form_Load(), ProcessEnded);
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 0);
    EXPECT_EQ(desktop.timerEnabled, 0);
}

} // namespace
} // namespace zurodid::testing
