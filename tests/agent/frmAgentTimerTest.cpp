#include "agent/AgentFixture.h"

namespace zurodid::testing {
namespace {

// The reminder timer over rows put straight into the agent's hidden list.
class Timer1 : public AgentFixture {
protected:
    // Rows of 7 December 2026, the test's day.
    void Rows(std::initializer_list<std::pair<const char*, const char*>> rows) {
        for (auto [time, subject] : rows)
            AddRow("07/12/2026", time, subject);
        frmAgentTestAccess::RowsFilledAt(agent, clock.now);
    }
    struct DatedRow {
        const char* date;
        const char* time;
        const char* subject;
    };
    void DatedRows(std::initializer_list<DatedRow> rows) {
        for (const DatedRow& row : rows)
            AddRow(row.date, row.time, row.subject);
        frmAgentTestAccess::RowsFilledAt(agent, clock.now);
    }
    void AddRow(const char* date, const char* time, const char* subject) {
        ListItem& row = agent.lvAppointment.ListItems.Add(
            ItemNumberText(agent.lvAppointment.ListItems.Count() + 1));
        row.SetSubItems(1, date);
        row.SetSubItems(2, time);
        row.SetSubItems(3, subject);
    }
    void Remind(int on, int lead) {
        state.AgentSettings.Remind = static_cast<std::int16_t>(on);
        state.AgentSettings.AppointmentRemind = static_cast<std::int16_t>(lead);
    }
    void TickAt(int hh, int mm, int ss = 0) {
        clock.now = At(2026, 12, 7, hh, mm, ss);
        agent.Timer1_Timer();
    }
};

TEST_F(Timer1, EmptyListDoesNothing) {
    Rows({});
    Remind(1, 10);
    for (int s = 0; s < 3; ++s)
        TickAt(9, 5, s);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 1);
}

TEST_F(Timer1, OnTimeBoxInTheMinuteThenTheCursorMoves) {
    Rows({{"09:05", "Dentist"}});
    TickAt(9, 4, 59);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1);
    TickAt(9, 5, 0);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "09:05 : Dentist");
    EXPECT_EQ(desktop.boxes[0].icon, vbCritical);
    EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 2);
    TickAt(9, 5, 1);
    EXPECT_EQ(desktop.boxes.size(), 1u) << "exhausted cursor stays quiet";
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 2);
}

TEST_F(Timer1, RowsPassedBeforeTheFillAreSkippedWithoutAMessage) {
    Rows({{"08:00", "a"}, {"08:30", "b"}, {"09:05", "c"}});
    TickAt(9, 0, 0);
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 3);
    TickAt(9, 0, 1);
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 3);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Timer1, TwoRowsInOneMinuteEachComeEvenWhenTheMinuteHasEnded) {
    Rows({{"09:05", "first"}, {"09:05", "second"}, {"09:06", "third"}});
    TickAt(9, 5, 59);
    TickAt(9, 6, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:05 : first", "16 09:05 : second"}))
        << "the second late rather than lost";
    TickAt(9, 6, 1);
    EXPECT_EQ(desktop.boxes.back().text, "09:06 : third");
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 4);
}

TEST_F(Timer1, AMinuteTurningWithinAHalfStillShowsTheBox) {
    // Each half decides on one reading of the clock: the minute that turns right after it
    // must not lose the row.
    struct Case {
        const char* name;
        int remind, lead;
        int hh, mm;  // the minute the half's reading falls in, at its last second
        int reading; // the half's reading of this tick, after which the minute turns
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"on time", 0, 0, 9, 5, 1, {"16 09:05 : x"}},
        {"advance", 1, 10, 8, 55, 2, {"64 09:05 : x"}},
    };
    for (const auto& c : cases) {
        desktop.boxes.clear();
        agent.lvAppointment.ListItems.Clear();
        clock.now = At(2026, 12, 7, c.hh, c.mm, 59);
        Rows({{"09:05", "x"}});
        Remind(c.remind, c.lead);
        clock.readings = 0;
        clock.onRead = [&c](FakeClock& fake) {
            if (fake.readings == c.reading)
                fake.now += std::chrono::seconds{1};
        };
        agent.Timer1_Timer();
        clock.onRead = nullptr;
        EXPECT_EQ(Boxes(), c.boxes) << c.name;
    }
}

TEST_F(Timer1, AdvanceReminderByLead) {
    struct Case {
        const char* name;
        int lead;
        int hh, mm; // the minute of the information box
        std::vector<int> icons;
    };
    const Case cases[] = {
        {"ten minutes ahead", 10, 8, 55, {vbInformation}},
        {"lead zero: critical first, then information", 0, 9, 5, {vbCritical, vbInformation}},
        {"negative lead: after the appointment", -5, 9, 10, {vbInformation}},
    };
    for (const auto& c : cases) {
        // A subject of its own: a reminder shown is not shown again that day.
        const std::string subject = c.name;
        desktop.boxes.clear();
        agent.lvAppointment.ListItems.Clear();
        clock.now = At(2026, 12, 7, c.hh, c.mm - 1, 59);
        Rows({{"09:05", subject.c_str()}});
        Remind(1, c.lead);
        TickAt(c.hh, c.mm - 1, 59);
        EXPECT_TRUE(desktop.boxes.empty()) << c.name;
        TickAt(c.hh, c.mm, 0);
        std::vector<std::string> expected;
        for (int icon : c.icons)
            expected.push_back(std::to_string(icon) + " 09:05 : " + subject);
        EXPECT_EQ(Boxes(), expected) << c.name;
        EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 2) << c.name;
    }
}

TEST_F(Timer1, AdvanceReminderSkippedWhenStartedInsideTheLead) {
    Rows({{"09:05", "Dentist"}});
    Remind(1, 10);
    TickAt(9, 0, 0);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 2);
    EXPECT_TRUE(desktop.boxes.empty());
    TickAt(9, 5, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:05 : Dentist"}));
}

TEST_F(Timer1, AdvanceReminderOnTheDayBeforeIsNeverShown) {
    DatedRows({{"08/12/2026", "00:05", "early"}});
    Remind(1, 10);
    TickAt(23, 55, 0);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 2);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Timer1, RemindSwitchedOnLaterStartsWhereTheCursorStood) {
    Rows({{"08:00", "a"}, {"08:10", "b"}, {"09:30", "c"}});
    Remind(0, 10);
    for (int s = 0; s < 5; ++s)
        TickAt(9, 0, s);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 1) << "frozen while off";
    Remind(1, 10);
    TickAt(9, 0, 10);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 3) << "rows passed meanwhile not owed";
    TickAt(9, 20, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"64 09:30 : c"}));
}

TEST_F(Timer1, RowsOutOfOrderAreEachRemindedInTheirMinute) {
    Rows({{"10:00", "late"}, {"09:00", "early"}});
    TickAt(9, 0, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:00 : early"}));
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1) << "10:00 still owed";
    TickAt(10, 0, 0);
    TickAt(10, 0, 1);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:00 : early", "16 10:00 : late"}));
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 3);
}

TEST_F(Timer1, RowsOfOtherDaysWaitForTheirDay) {
    // The list of a fill with AppointmentStartUp above 0: today's rows and tomorrow's.
    DatedRows({{"08/12/2026", "15:00", "tomorrow's"},
               {"07/12/2026", "15:00", "today's"},
               {"08/12/2026", "15:10", "tomorrow, later"}});
    Remind(1, 0);
    TickAt(14, 0, 0);
    TickAt(15, 0, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 15:00 : today's", "64 15:00 : today's"}));
    TickAt(15, 0, 1);
    TickAt(15, 10, 0);
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 1) << "tomorrow's first row still owed";
    EXPECT_EQ(desktop.boxes.size(), 2u) << "no box of either kind for tomorrow's rows";
}

TEST_F(Timer1, ATickWhileTheBoxIsOpenDoesNothing) {
    Rows({{"09:05", "once"}});
    Remind(1, 0);
    int nested = 0;
    desktop.onBox = [&](const ShownBox&) {
        if (nested++ < 3)
            agent.Timer1_Timer(); // the timer keeps firing while the modal box is open
    };
    TickAt(9, 5, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:05 : once", "64 09:05 : once"}));
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 2);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 2);
}

TEST_F(Timer1, AnEmptySubjectEndsTheTextInTheSeparator) {
    Rows({{"09:05", ""}});
    TickAt(9, 5, 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"16 09:05 : "}));
}

TEST_F(Timer1, ABoxTextIsCutAtAThousandCharactersWithTheCutMarked) {
    // Thai letters take three bytes each: the bound counts characters.
    std::string subject;
    for (int i = 0; i < 2000; ++i)
        subject += "ก";
    Rows({{"09:05", subject.c_str()}});
    TickAt(9, 5, 0);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    const std::string& text = desktop.boxes[0].text;
    EXPECT_EQ(text.rfind("09:05 : กก", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 3), "…");
    EXPECT_EQ(text.size(), 8 + (1023 - 8) * 3 + 3) << "1,023 characters and the mark";
}

TEST_F(Timer1, AFullListLetsTheCursorsPassItsLastRow) {
    for (int i = 0; i < 32767; ++i) {
        ListItem& row = agent.lvAppointment.ListItems.Add("x");
        row.SetSubItems(1, "07/12/2026");
        row.SetSubItems(2, "08:00");
    }
    frmAgentTestAccess::RowsFilledAt(agent, clock.now);
    Remind(1, 0);
    TickAt(9, 0, 0);
    TickAt(9, 0, 1);
    EXPECT_EQ(frmAgentTestAccess::AlarmCursor(agent), 32768);
    EXPECT_EQ(frmAgentTestAccess::RemindCursor(agent), 32768);
}

// When nothing can happen sooner, the timer sleeps until the first minute that can bring a box,
// or midnight; a second at a time while boxes come.
TEST(Timer1Plan, TheNextTickIsTheFirstMinuteThatCanBringABox) {
    struct Case {
        const char* name;
        int remind, lead;
        std::vector<std::pair<const char*, const char*>> rows; // date, time
        DateTime tick;
        std::optional<DateTime> planned; // none: in a second
    };
    const auto D7 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 7, hh, mm, ss); };
    const Case cases[] = {
        {"nothing today", 0, 0, {}, D7(9, 5, 17), At(2026, 12, 8)},
        {"the next appointment", 0, 10, {{"07/12/2026", "10:00"}}, D7(9, 5, 17), D7(10, 0)},
        {"its advance minute first", 1, 10, {{"07/12/2026", "10:00"}}, D7(9, 5), D7(9, 50)},
        {"the earliest of rows out of order",
         0,
         0,
         {{"07/12/2026", "11:00"}, {"07/12/2026", "09:30"}},
         D7(9, 5),
         D7(9, 30)},
        {"advance reminders off", 0, 10, {{"07/12/2026", "10:00"}}, D7(9, 5), D7(10, 0)},
        {"a box shown: more may be due", 0, 0, {{"07/12/2026", "09:05"}}, D7(9, 5), {}},
        {"passed rows and tomorrow's wait for midnight",
         1,
         30,
         {{"07/12/2026", "08:00"}, {"08/12/2026", "00:10"}},
         D7(9, 5),
         At(2026, 12, 8)},
    };
    for (const Case& c : cases) {
        AgentRig t;
        t.clock.now = D7(9, 0);
        for (auto [date, time] : c.rows) {
            ListItem& row = t.agent.lvAppointment.ListItems.Add("x");
            row.SetSubItems(1, date);
            row.SetSubItems(2, time);
            row.SetSubItems(3, "s");
        }
        frmAgentTestAccess::RowsFilledAt(t.agent, t.clock.now);
        t.state.AgentSettings.Remind = static_cast<std::int16_t>(c.remind);
        t.state.AgentSettings.AppointmentRemind = static_cast<std::int16_t>(c.lead);
        t.clock.now = c.tick;
        t.agent.Timer1_Timer();
        ASSERT_FALSE(t.desktop.nextTicks.empty()) << c.name;
        EXPECT_EQ(t.desktop.nextTicks.back(), c.planned) << c.name;
    }
}

} // namespace
} // namespace zurodid::testing
