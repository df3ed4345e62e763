#include "agent/AgentFixture.h"

namespace zurodid::testing {
namespace {

using StartUp = AgentFixture;

TEST_F(StartUp, WithoutASettingsFileEverythingElseRuns) {
    diary.tables["Appointment"].rows = {{Date(2026, 12, 7, 10, 0), Variant{std::string("a")}}};
    agent.Form_Load();
    const AgentSettings& s = state.AgentSettings;
    EXPECT_EQ(std::vector<int>({s.StartUpRemind, s.AnniversaryStartUp, s.AppointmentStartUp,
                                s.Remind, s.AppointmentRemind}),
              std::vector<int>(5, 0));
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 0);
    EXPECT_EQ(diary.opens, 1);
    EXPECT_TRUE(state.DiaryStore.rsAnniversary && state.DiaryStore.rsAppointment);
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 1);
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 1);
    EXPECT_EQ(desktop.timerEnabled, 1);
}

TEST_F(StartUp, RegistersTheTrayIconRecord) {
    agent.Form_Load();
    ASSERT_EQ(desktop.registrations.size(), 1u);
    const TrayIconRecordA& record = desktop.registrations[0];
    EXPECT_EQ(record.cbSize, 88u);
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 512u);
    EXPECT_EQ(std::string(record.szTip.data(), 64),
              std::string("Zurodid Agent") + '\0' + std::string(50, ' '));
    EXPECT_EQ(record.Tip(), "Zurodid Agent");
    EXPECT_EQ(agent.TrayIconRecord.szTip[13], u'\0');
    EXPECT_EQ(agent.TrayIconRecord.szTip[63], u' ');
}

TEST_F(StartUp, StartUpRemindShowsTheListWindowOnlyForOne) {
    const std::pair<const char*, int> cases[] = {
        {"StartUpRemind=1", 1}, {"StartUpRemind=1.4", 1}, {"StartUpRemind=1.5", 0},
        {"StartUpRemind=2", 0}, {"StartUpRemind=0", 0},   {"StartUpRemind=", 0},
        {"Remind=1", 0},
    };
    for (auto [line, shown] : cases) {
        desktop.shown.clear();
        Settings(std::string(line) + "\r\n");
        agent.Form_Load();
        EXPECT_EQ(desktop.ShowCount(WindowName::frmList), shown) << line;
    }
}

TEST_F(StartUp, AnOverflowingSettingStopsInItsStep) {
    Settings("StartUpRemind=1\r\nAnniversaryStartUp=40000\r\nAppointmentStartUp=5\r\nRemind=1\r\n"
             "AppointmentRemind=5\r\n");
    agent.Form_Load();
    EXPECT_EQ(desktop.registrations.size(), 1u);
    EXPECT_EQ(state.AgentSettings.StartUpRemind, 1);
    EXPECT_EQ(state.AgentSettings.AppointmentStartUp, 0);
    EXPECT_EQ(state.AgentSettings.Remind, 0);
    EXPECT_EQ(state.AgentSettings.AppointmentRemind, 0);
    EXPECT_EQ(diary.workspaces, 0);
    EXPECT_EQ(desktop.timerEnabled, 0);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 0);
}

TEST_F(StartUp, AnUnreadableDiaryLeavesNothingOpenButTheTimerRuns) {
    struct Case {
        const char* name;
        std::function<void(FakeDiary&)> arrange;
    };
    const Case cases[] = {
        {"missing file", [](FakeDiary& d) { d.failOpen = ErrorNumber::FileNotFound; }},
        {"damaged file", [](FakeDiary& d) { d.failOpen = ErrorNumber::DatabaseDamaged; }},
        {"no Anniversary table", [](FakeDiary& d) { d.tables.erase("Anniversary"); }},
        {"no Appointment table", [](FakeDiary& d) { d.tables.erase("Appointment"); }},
    };
    for (const auto& c : cases) {
        FakeDiary fresh;
        fresh.tables["Anniversary"];
        fresh.tables["Appointment"].rows = {{Date(2026, 12, 7, 10, 0), Variant{std::string("a")}}};
        c.arrange(fresh);
        FakeDesktop quiet;
        ProcessState own([this] { return folder.Path(); }, std::make_shared<FakeEngine>(fresh));
        frmAgent a(own, quiet, clock);
        Settings("StartUpRemind=1\r\n");
        a.Form_Load();
        EXPECT_EQ(quiet.registrations.size(), 1u) << c.name;
        EXPECT_TRUE(quiet.boxes.empty()) << c.name;
        EXPECT_EQ(quiet.timerEnabled, 1) << c.name << ": the read is tried again";
        EXPECT_EQ(quiet.ShowCount(WindowName::frmList), 0) << c.name;
        EXPECT_EQ(a.lvAppointment.ListItems.Count(), 0) << c.name;
        EXPECT_EQ(own.AgentSettings.StartUpRemind, 1) << c.name;
        EXPECT_FALSE(own.DiaryStore.dbDiary || own.DiaryStore.rsAnniversary ||
                     own.DiaryStore.rsAppointment)
            << c.name << ": half an open is not kept";
    }
}

TEST_F(StartUp, APasswordIsAskedUntilRightAndNoEarlierStepRunsTwice) {
    diary.password = "ลับ";
    Settings("StartUpRemind=1\r\n");
    std::vector<std::string> typed = {"wrong", "", "ลับ"};
    int settingsReads = 0;
    desktop.onShow = [&](WindowName window, ShowMode mode) {
        if (window != WindowName::frmLogIn)
            return;
        EXPECT_EQ(mode, ShowMode::Modal);
        // Between two dialogs the settings must not be read again: change the file.
        Settings("StartUpRemind=0\r\n");
        ++settingsReads;
        state.DatabasePassword =
            typed[static_cast<std::size_t>(desktop.ShowCount(WindowName::frmLogIn) - 1)];
    };
    agent.Form_Load();
    EXPECT_EQ(desktop.ShowCount(WindowName::frmLogIn), 3);
    EXPECT_EQ(desktop.registrations.size(), 1u);
    EXPECT_EQ(diary.workspaces, 1);
    EXPECT_EQ(diary.opens, 4);
    EXPECT_EQ(state.AgentSettings.StartUpRemind, 1) << "settings read once, before the dialog";
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1);
    EXPECT_EQ(desktop.timerEnabled, 1);
}

TEST_F(StartUp, TheCloseBoxKeepsThePasswordAndTheDialogComesBack) {
    diary.password = "pw";
    int shown = 0;
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn && ++shown == 3)
            state.DatabasePassword = "pw";
    };
    agent.Form_Load();
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(desktop.timerEnabled, 1);
}

TEST_F(StartUp, CancelEndsTheProcessBeforeTheListIsFilled) {
    diary.password = "pw";
    diary.tables["Appointment"].rows = {{Date(2026, 12, 7, 10, 0), Variant{std::string("a")}}};
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            desktop.EndProcess();
    };
    EXPECT_THROW(agent.Form_Load(), ProcessEnded);
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 0);
    EXPECT_EQ(desktop.registrations.size(), 1u);
    EXPECT_EQ(desktop.timerEnabled, 0);
}

TEST_F(StartUp, RefreshRebuildsEverythingAndAsksThePasswordAgain) {
    diary.password = "pw";
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            state.DatabasePassword = "pw";
    };
    diary.tables["Appointment"].rows = {{Date(2026, 12, 7, 10, 0), Variant{std::string("a")}}};
    agent.Form_Load();
    auto firstRecordset = state.DiaryStore.rsAppointment;
    diary.tables["Appointment"].rows.push_back(
        {Date(2026, 12, 7, 11, 0), Variant{std::string("b")}});
    Settings("StartUpRemind=1\r\n");
    agent.mnusubpopup_Click(IndexOf(PopupItem::Refresh));
    EXPECT_EQ(desktop.ShowCount(WindowName::frmLogIn), 2);
    EXPECT_EQ(desktop.registrations.size(), 2u);
    EXPECT_NE(state.DiaryStore.rsAppointment, firstRecordset);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"001", "002"}));
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 1);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1);
    EXPECT_EQ(desktop.timerEnabled, 2);
}

TEST_F(StartUp, AFailedRefreshKeepsThePreviousObjectsListAndReminders) {
    diary.tables["Appointment"].rows = {{Date(2026, 12, 7, 10, 0), Variant{std::string("a")}}};
    agent.Form_Load();
    auto database = state.DiaryStore.dbDiary;
    auto recordset = state.DiaryStore.rsAppointment;
    diary.failOpen = ErrorNumber::FileNotFound;
    agent.mnusubpopup_Click(IndexOf(PopupItem::Refresh));
    EXPECT_EQ(state.DiaryStore.dbDiary, database);
    EXPECT_EQ(state.DiaryStore.rsAppointment, recordset);
    EXPECT_EQ(Column(3), std::vector<std::string>{"a"});
    EXPECT_EQ(desktop.timerEnabled, 2);
    clock.now = At(2026, 12, 7, 10, 0, 0);
    agent.Timer1_Timer();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"16 10:00 : a"});
}

} // namespace
} // namespace zurodid::testing
