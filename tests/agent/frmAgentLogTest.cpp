#include "agent/AgentFixture.h"
#include "support/LogCapture.h"

namespace zurodid::testing {
namespace {

// What the agent leaves on standard error: one line per failure the user is not shown,
// nothing in normal running, never the password.
class FailureLog : public AgentFixture {
protected:
    LogCapture log;
};

TEST_F(FailureLog, AStartUpThatFailsSaysWhereWithWhatAndOnWhichFile) {
    struct Case {
        const char* name;
        std::function<void(FakeDiary&)> arrange;
        std::string settings;
        std::string line; // after "zurodid-agent: "
    };
    const std::string diaryFile = (folder / "Zurodid.mdb").string();
    const Case cases[] = {
        {"missing diary", [](FakeDiary& d) { d.failOpen = ErrorNumber::FileNotFound; }, "",
         "opening the diary, tried again when it changes: error 3024: injected: " + diaryFile},
        {"no table", [](FakeDiary& d) { d.tables.erase("Appointment"); }, "",
         "opening the table Appointment, tried again when it changes: error 3078: no table: " +
             diaryFile},
        {"setting out of range", [](FakeDiary&) {}, "AppointmentStartUp=40000\r\n",
         "reading the setting AppointmentStartUp, start-up stopped: error 6: Overflow: " +
             (folder / "Zurodid.ini").string()},
    };
    for (const Case& c : cases) {
        FakeDiary fresh;
        fresh.tables["Anniversary"];
        fresh.tables["Appointment"];
        c.arrange(fresh);
        ProcessState own([this] { return folder.Path(); }, std::make_shared<FakeEngine>(fresh));
        frmAgent a(own, desktop, clock);
        Settings(c.settings);
        log.lines.clear();
        a.Form_Load();
        EXPECT_EQ(log.lines, std::vector<std::string>{"zurodid-agent: " + c.line}) << c.name;
    }
}

TEST_F(FailureLog, NormalRunningWritesNothing) {
    diary.password = "pw";
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            state.DatabasePassword = "pw"; // a wrong password is asked again, not logged
    };
    Settings("AppointmentStartUp=1\r\nRemind=1\r\nAppointmentRemind=5\r\n");
    Appointments({{Date(2026, 12, 7, 9, 5), Variant{std::string("a")}},
                  {Date(2026, 12, 8, 9, 5), Variant{Null{}}}});
    agent.Form_Load();
    for (clock.now = At(2026, 12, 7, 9, 0); clock.now < At(2026, 12, 8, 9, 10);
         clock.now += std::chrono::seconds{30})
        agent.Timer1_Timer();
    agent.mnusubpopup_Click(static_cast<std::int16_t>(PopupItem::Refresh));
    EXPECT_EQ(desktop.boxes.size(), 4u);
    EXPECT_TRUE(log.lines.empty()) << log.lines[0];
}

TEST_F(FailureLog, ANewDayThatCannotOpenTheDiarySaysSoAndNeverThePassword) {
    diary.password = "geheim-ลับ";
    desktop.onShow = [&](WindowName window, ShowMode) {
        if (window == WindowName::frmLogIn)
            state.DatabasePassword = "geheim-ลับ";
    };
    clock.now = At(2026, 12, 7, 23, 0);
    agent.Form_Load();
    diary.password = "changed";
    clock.now = At(2026, 12, 8, 0, 0);
    agent.Timer1_Timer();
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "zurodid-agent: opening the diary, the new day's list refilled from "
                            "the diary opened before: error 3031: Not a valid password.: " +
                                (folder / "Zurodid.mdb").string());
    EXPECT_EQ(desktop.ShowCount(WindowName::frmLogIn), 1);
    for (const std::string& line : log.lines)
        EXPECT_EQ(line.find("geheim"), std::string::npos) << line;
}

TEST_F(FailureLog, AReadThatFailsSaysSoOnceKeepsTheListAndRecoversOnItsOwn) {
    struct Case {
        const char* name;
        DateTime start;       // Form_Load, the diary still readable unless `failFirst`
        bool failFirst;       // the start-up's own read fails
        DateTime failingRead; // the read that fails: a Refresh, or the new day's first tick
        bool refresh;
        std::vector<std::string> rowsAfter, boxesAfter, lines;
    };
    const std::string file = (folder / "Zurodid.mdb").string();
    const std::string recovered =
        "the diary was read again, the list and the reminders go on: " + file;
    const Case cases[] = {
        {"start-up",
         At(2026, 12, 7, 23, 0),
         true,
         At(2026, 12, 7, 23, 0),
         false,
         {"evening"},
         {"16 23:10 : evening"},
         {"opening the diary, tried again when it changes: error 3049: injected: " + file,
          recovered}},
        {"Refresh",
         At(2026, 12, 7, 23, 0),
         false,
         At(2026, 12, 7, 23, 0, 30),
         true,
         {"evening"},
         {"16 23:10 : evening"},
         {"opening the diary, the previous list kept, tried again when it changes: error 3049: "
          "injected: " +
              file,
          recovered}},
        {"new day",
         At(2026, 12, 7, 23, 30),
         false,
         At(2026, 12, 8, 0, 0),
         false,
         {"after midnight"},
         {"16 00:05 : after midnight"},
         {"opening the diary, the previous list kept, tried again when it changes: error 3049: "
          "injected: " +
              file,
          recovered}},
    };
    for (const Case& c : cases) {
        FakeDiary own;
        own.tables["Anniversary"];
        own.tables["Appointment"].rows = {
            {Date(2026, 12, 7, 23, 10), Variant{std::string("evening")}},
            {Date(2026, 12, 8, 0, 5), Variant{std::string("after midnight")}}};
        FakeDesktop quiet;
        ProcessState process([this] { return folder.Path(); }, std::make_shared<FakeEngine>(own));
        frmAgent a(process, quiet, clock);
        auto fail = [&own](bool on) {
            own.failOpen = on ? std::optional<int>(ErrorNumber::DatabaseDamaged) : std::nullopt;
            // The recordsets opened before see the same damage.
            own.tables["Appointment"].failOnRead.clear();
            if (on)
                own.tables["Appointment"].failOnRead[0] = ErrorNumber::DatabaseDamaged;
        };
        log.lines.clear();
        clock.now = c.start;
        fail(c.failFirst);
        a.Form_Load();
        fail(true);
        clock.now = c.failingRead;
        if (c.refresh)
            a.mnusubpopup_Click(IndexOf(PopupItem::Refresh));
        // Six minutes of ticks on a diary that cannot be read, then on a diary that can.
        for (int s = 0; s < 360; s += 5, clock.now += std::chrono::seconds{5})
            a.Timer1_Timer();
        EXPECT_EQ(log.lines.size(), 1u) << c.name << ": said once while it fails";
        fail(false);
        for (int s = 0; s <= 720; s += 5, clock.now += std::chrono::seconds{5})
            a.Timer1_Timer();
        std::vector<std::string> rows, lines;
        for (int k = 1; k <= a.lvAppointment.ListItems.Count(); ++k)
            rows.push_back(a.lvAppointment.ListItems.Item(k).SubItems(3));
        std::vector<std::string> boxes;
        for (const auto& box : quiet.boxes)
            boxes.push_back(std::to_string(box.icon) + " " + box.text);
        for (const auto& line : log.lines)
            lines.push_back(line.substr(std::string("zurodid-agent: ").size()));
        EXPECT_EQ(rows, c.rowsAfter) << c.name;
        EXPECT_EQ(boxes, c.boxesAfter) << c.name << ": the reminders went on, late if need be";
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(quiet.timerEnabled, c.refresh ? 2 : 1) << c.name;
    }
}

TEST_F(FailureLog, AFillThatEndsOnAnErrorSaysSo) {
    Appointments({{Date(2026, 12, 7, 9, 5), Variant{std::string("a")}},
                  {Date(2026, 12, 7, 9, 6), Variant{std::string("b")}}});
    diary.tables["Appointment"].failOnRead[1] = ErrorNumber::DatabaseDamaged;
    agent.Form_Load();
    EXPECT_EQ(Column(3), std::vector<std::string>{"a"}) << "the rows read so far stay";
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "zurodid-agent: filling the agent's list, ended with the rows read "
                             "so far: error 3049: injected: " +
                             (folder / "Zurodid.mdb").string()});
}

TEST_F(FailureLog, AMainProgramThatCannotStartIsLogged) {
    desktop.startOutcome = {false, "the file does not exist", kFileNotFoundError};
    agent.mnusubpopup_Click(static_cast<std::int16_t>(PopupItem::RunZurodid));
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "zurodid-agent: starting the main program: error 53: the file does "
                             "not exist: " +
                             (folder / "Zurodid.exe").string()});
}

} // namespace
} // namespace zurodid::testing
