#include "agent/AgentFixture.h"

namespace zurodid::testing {
namespace {

// An agent left running across midnight: the real start-up and fill, then the timer driven
// second by second on the fake clock.
class NewDay : public AgentFixture {
protected:
    // One tick per second from `from` up to and including `to`.
    void TickThrough(DateTime from, DateTime to) {
        for (clock.now = from; clock.now <= to; clock.now += std::chrono::seconds{1})
            agent.Timer1_Timer();
    }
};

TEST_F(NewDay, TomorrowsRowIsSilentTodayAndRemindedTomorrow) {
    Settings("StartUpRemind=1\r\nAppointmentStartUp=1\r\nRemind=1\r\nAppointmentRemind=5\r\n");
    Appointment(At(2026, 12, 8, 9, 0), "tomorrow at nine");
    Appointment(At(2026, 12, 7, 23, 0), "tonight");
    clock.now = At(2026, 12, 7, 8, 0);
    agent.Form_Load();
    EXPECT_EQ(Column(1), (std::vector<std::string>{"08/12/2026", "07/12/2026"}));

    TickThrough(At(2026, 12, 7, 8, 59, 0), At(2026, 12, 7, 9, 1, 0));
    EXPECT_TRUE(desktop.boxes.empty()) << "tomorrow's 09:00 reminded today";
    // What the rebuild must not take up: settings changed in the file since the start.
    Settings("StartUpRemind=1\r\nAppointmentStartUp=0\r\nRemind=1\r\nAppointmentRemind=5\r\n");
    TickThrough(At(2026, 12, 7, 22, 54, 0), At(2026, 12, 7, 23, 0, 0));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"64 23:00 : tonight", "16 23:00 : tonight"}));

    desktop.boxes.clear();
    int opensBefore = diary.opens;
    TickThrough(At(2026, 12, 8, 0, 0, 0), At(2026, 12, 8, 9, 0, 0));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"64 09:00 : tomorrow at nine",
                                                 "16 09:00 : tomorrow at nine"}));
    EXPECT_EQ(diary.opens, opensBefore + 1) << "the diary is opened again once";
    EXPECT_EQ(Column(1), (std::vector<std::string>{"08/12/2026"}))
        << "the new day's list, by the settings read at the start (one day ahead)";
    EXPECT_EQ(Column(0), (std::vector<std::string>{"001"}));
    EXPECT_EQ(state.AgentSettings.AppointmentStartUp, 1) << "settings are not read again";
    EXPECT_EQ(desktop.registrations.size(), 1u) << "the icon is not registered again";
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1) << "the list window is not shown";
    EXPECT_EQ(desktop.timerEnabled, 1);
}

TEST_F(NewDay, StartedAtHalfAMinuteToMidnightRemindsOneMinutePastMidnight) {
    Settings("AppointmentStartUp=0\r\n");
    Appointment(At(2026, 12, 8, 0, 1), "just after midnight");
    Appointment(At(2026, 12, 7, 23, 59), "just before");
    clock.now = At(2026, 12, 7, 23, 59, 30);
    agent.Form_Load();
    EXPECT_EQ(Column(3), (std::vector<std::string>{"just before"}));
    TickThrough(clock.now, At(2026, 12, 8, 0, 2, 0));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 23:59 : just before",
                                                 "16 00:01 : just after midnight"}));
}

TEST_F(NewDay, AFailedOpenKeepsThePreviousObjectsAndRefillsFromThem) {
    Settings("AppointmentStartUp=0\r\n");
    Appointment(At(2026, 12, 8, 0, 10), "after midnight");
    clock.now = At(2026, 12, 7, 23, 0);
    agent.Form_Load();
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 0);
    const DiaryStore before = state.DiaryStore;
    diary.failOpen = ErrorNumber::FileNotFound;
    TickThrough(At(2026, 12, 8, 0, 9, 58), At(2026, 12, 8, 0, 10, 0));
    EXPECT_EQ(state.DiaryStore.wsDiary, before.wsDiary);
    EXPECT_EQ(state.DiaryStore.dbDiary, before.dbDiary);
    EXPECT_EQ(state.DiaryStore.rsAnniversary, before.rsAnniversary);
    EXPECT_EQ(state.DiaryStore.rsAppointment, before.rsAppointment);
    EXPECT_EQ(Column(3), (std::vector<std::string>{"after midnight"}));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 00:10 : after midnight"}));
    EXPECT_TRUE(desktop.shown.empty()) << "nothing shown, no log-in dialog";
}

TEST_F(NewDay, APasswordGivenAtStartOpensTheDiaryWithoutAsking) {
    diary.password = "ลับ";
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            state.DatabasePassword = "ลับ";
    };
    Appointment(At(2026, 12, 8, 7, 0), "early");
    clock.now = At(2026, 12, 7, 12, 0);
    agent.Form_Load();
    ASSERT_EQ(desktop.ShowCount(WindowName::frmLogIn), 1);
    auto database = state.DiaryStore.dbDiary;
    TickThrough(At(2026, 12, 8, 6, 59, 59), At(2026, 12, 8, 7, 0, 0));
    EXPECT_EQ(desktop.ShowCount(WindowName::frmLogIn), 1) << "asked again on the new day";
    EXPECT_NE(state.DiaryStore.dbDiary, database);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 07:00 : early"}));
}

TEST_F(NewDay, TheFirstTickOnAnotherDayRebuildsWhateverTheGap) {
    struct Case {
        const char* name;
        DateTime tick; // the first tick after the start on 7 December at 22:00
        std::vector<std::string> dates;
    };
    const Case cases[] = {
        {"the same day", At(2026, 12, 7, 23, 59, 59), {"07/12/2026"}},
        {"resumed from sleep the next morning", At(2026, 12, 8, 8, 0), {"08/12/2026"}},
        {"resumed days later", At(2026, 12, 11, 8, 0), {"11/12/2026"}},
        {"the clock set back a day", At(2026, 12, 6, 22, 0), {"06/12/2026"}},
    };
    for (const auto& c : cases) {
        diary.tables["Appointment"].rows.clear();
        for (int day = 6; day <= 11; ++day)
            Appointment(At(2026, 12, static_cast<unsigned>(day), 23, 30), "day's");
        clock.now = At(2026, 12, 7, 22, 0);
        agent.lvAppointment.ListItems.Clear();
        agent.Form_Load();
        clock.now = c.tick;
        agent.Timer1_Timer();
        EXPECT_EQ(Column(1), c.dates) << c.name;
        // The same day's 23:30 came during the gap: shown late, so passed.
        int expectedCursor = c.dates[0] == "07/12/2026" ? 2 : 1;
        EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), expectedCursor) << c.name;
    }
}

} // namespace
} // namespace zurodid::testing
