// The fill rules of the list window and the agent's list, without a window or a desktop.
#include "store/ListFill.h"

#include "support/FakeDesktop.h"
#include "support/FakeDiary.h"

#include <gtest/gtest.h>
#include <ostream>

namespace zurodid::testing {
namespace {

struct Row {
    std::string number, date, text;
    friend bool operator==(const Row&, const Row&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Row& row) {
        return out << row.number << " | " << row.date << " | " << row.text;
    }
};

class ListWindowFill : public ::testing::Test {
protected:
    void Open(std::vector<FakeRow> anniversaries, std::vector<FakeRow> appointments) {
        rsAnniversary = std::make_shared<FakeRecordset>(anniversaries);
        rsAppointment = std::make_shared<FakeRecordset>(appointments);
    }
    void SetToday(DateTime value) { today = value; }
    FillEnd ShowAll() {
        return FillListWindow(
            {rsAnniversary.get(), rsAppointment.get(), anniversaryDays, appointmentDays, today},
            lvAnniversary, lvAppointment, members, &error);
    }

    std::vector<Row> AnniversaryRows() const {
        std::vector<Row> rows;
        const auto& items = lvAnniversary.ListItems;
        for (int k = 1; k <= items.Count(); ++k)
            rows.push_back(
                {items.Item(k).Text(), items.Item(k).SubItems(1), items.Item(k).SubItems(2)});
        return rows;
    }
    // Appointment rows with date and time joined: "07/12/2026 09:05".
    std::vector<Row> AppointmentRows() const {
        std::vector<Row> rows;
        const auto& items = lvAppointment.ListItems;
        for (int k = 1; k <= items.Count(); ++k)
            rows.push_back({items.Item(k).Text(),
                            items.Item(k).SubItems(1) + " " + items.Item(k).SubItems(2),
                            items.Item(k).SubItems(3)});
        return rows;
    }

    std::shared_ptr<Recordset> rsAnniversary;
    std::shared_ptr<Recordset> rsAppointment;
    std::int16_t anniversaryDays = 0;
    std::int16_t appointmentDays = 0;
    DateTime today = At(2026, 12, 7, 10, 0);
    ListView lvAnniversary;
    ListView lvAppointment;
    FillError error;
    ListFillMembers members;
};

struct AnniversaryCase {
    const char* name;
    DateTime today;
    std::int16_t days;
    std::vector<FakeRow> table;
    std::vector<Row> expected;
};

TEST_F(ListWindowFill, AnniversariesWithinTheWindowThisYearThenNextYear) {
    const Variant null = Null{};
    const std::vector<AnniversaryCase> cases{
        {"three days ahead, both ends included",
         At(2026, 12, 7),
         3,
         {{At(1990, 12, 7), "a"},
          {At(2000, 12, 10), "b"},
          {At(2026, 12, 6), "c"},
          {At(1985, 12, 11), "d"}},
         {{"001", "07/12/2026", "a"}, {"002", "10/12/2026", "b"}}},
        {"past the year end: next year's rows after this year's, numbered on",
         At(2026, 12, 20),
         30,
         {{At(1999, 1, 5), "jan"}, {At(2001, 12, 19), "gone"}, {At(1970, 12, 25), "xmas"}},
         {{"001", "25/12/2026", "xmas"}, {"002", "05/01/2027", "jan"}}},
        {"zero days: today only",
         At(2026, 12, 7),
         0,
         {{At(1990, 12, 7), "today"}, {At(1990, 12, 8), "tomorrow"}},
         {{"001", "07/12/2026", "today"}}},
        {"negative days: nothing", At(2026, 12, 7), -1, {{At(1990, 12, 7), "today"}}, {}},
        {"a window over a year lists a day twice",
         At(2026, 3, 1),
         400,
         {{At(2000, 3, 10), "twice"}},
         {{"001", "10/03/2026", "twice"}, {"002", "10/03/2027", "twice"}}},
        {"29 February is tested as 1 March but shown as stored",
         At(2027, 2, 28),
         1,
         {{At(2000, 2, 29), "leap"}},
         {{"001", "29/02/2027", "leap"}}},
        {"29 February is not today on 28 February of a common year",
         At(2027, 2, 28),
         0,
         {{At(2000, 2, 29), "leap"}},
         {}},
        {"a Null title is an empty text, still numbered",
         At(2026, 12, 7),
         0,
         {{At(1990, 12, 7), null}, {At(1991, 12, 7), "b"}},
         {{"001", "07/12/2026", ""}, {"002", "07/12/2026", "b"}}},
        {"rows without a readable date are passed over and take no number",
         At(2026, 12, 7),
         5,
         {{At(1990, 12, 8), "a"},
          {null, "no date"},
          {std::string("soon"), "text date"},
          {At(1990, 12, 9), "b"}},
         {{"001", "08/12/2026", "a"}, {"002", "09/12/2026", "b"}}},
    };
    for (const AnniversaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        anniversaryDays = c.days;
        SetToday(c.today);
        Open(c.table, {{c.today, "appointment"}});
        const FillEnd end = ShowAll();
        EXPECT_EQ(AnniversaryRows(), c.expected);
        // The appointment half always runs after a complete anniversary half.
        EXPECT_EQ(lvAppointment.ListItems.Count(), 1);
        EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";
    }
}

struct AppointmentCase {
    const char* name;
    std::int16_t days;
    std::vector<FakeRow> table;
    std::vector<Row> expected;
};

TEST_F(ListWindowFill, AppointmentsWithinTheWindowInTableOrder) {
    const Variant null = Null{};
    SetToday(At(2026, 12, 7, 10, 0));
    const std::vector<AppointmentCase> cases{
        {"zero days: today's, the past hours included",
         0,
         {{At(2026, 12, 7, 8, 0), "early"}, {At(2026, 12, 8, 0, 0), "tomorrow"}},
         {{"001", "07/12/2026 08:00", "early"}}},
        {"two days: by calendar day, the time plays no part",
         2,
         {{At(2026, 12, 9, 23, 59), "last"},
          {At(2026, 12, 10, 0, 0), "beyond"},
          {At(2026, 12, 6, 23, 59), "yesterday"}},
         {{"001", "09/12/2026 23:59", "last"}}},
        {"negative days: nothing", -1, {{At(2026, 12, 7, 12, 0), "today"}}, {}},
        {"never sorted",
         5,
         {{At(2026, 12, 9, 10, 0), "later"}, {At(2026, 12, 7, 9, 5), "sooner"}},
         {{"001", "09/12/2026 10:00", "later"}, {"002", "07/12/2026 09:05", "sooner"}}},
        {"Null subject empty, Null or unreadable date skipped without a number",
         1,
         {{At(2026, 12, 7, 11, 0), null},
          {null, "no date"},
          {std::string("x"), "text date"},
          {At(2026, 12, 8, 7, 30), "after"}},
         {{"001", "07/12/2026 11:00", ""}, {"002", "08/12/2026 07:30", "after"}}},
    };
    anniversaryDays = 30;
    for (const AppointmentCase& c : cases) {
        SCOPED_TRACE(c.name);
        appointmentDays = c.days;
        // Five anniversaries listed first: appointments still count from 001.
        Open(std::vector<FakeRow>(5, FakeRow{At(1990, 12, 8), "anniversary"}), c.table);
        const FillEnd end = ShowAll();
        EXPECT_EQ(lvAnniversary.ListItems.Count(), 5);
        EXPECT_EQ(AppointmentRows(), c.expected);
        EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";
    }
}

TEST_F(ListWindowFill, NumbersWidenAtTenHundredAndThousand) {
    anniversaryDays = 0;
    appointmentDays = 0;
    Open(std::vector<FakeRow>(1000, FakeRow{At(1990, 12, 7)}),
         std::vector<FakeRow>(1000, FakeRow{At(2026, 12, 7, 9, 0)}));
    ShowAll();
    for (const ListView* view : {&lvAnniversary, &lvAppointment}) {
        const auto& items = view->ListItems;
        ASSERT_EQ(items.Count(), 1000);
        EXPECT_EQ(items.Item(9).Text(), "009");
        EXPECT_EQ(items.Item(10).Text(), "010");
        EXPECT_EQ(items.Item(99).Text(), "099");
        EXPECT_EQ(items.Item(100).Text(), "100");
        EXPECT_EQ(items.Item(1000).Text(), "1000");
    }
}

TEST_F(ListWindowFill, EmptyTablesGiveEmptyListsWithoutMessage) {
    anniversaryDays = 10;
    appointmentDays = 10;
    Open({}, {{At(2026, 12, 8, 9, 0), "kept"}});
    FillEnd end = ShowAll();
    EXPECT_EQ(lvAnniversary.ListItems.Count(), 0);
    EXPECT_EQ(AppointmentRows(), (std::vector<Row>{{"001", "08/12/2026 09:00", "kept"}}));
    EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";

    Open({{At(1990, 12, 8), "kept"}}, {});
    end = ShowAll();
    EXPECT_EQ(AnniversaryRows(), (std::vector<Row>{{"001", "08/12/2026", "kept"}}));
    EXPECT_EQ(lvAppointment.ListItems.Count(), 0);
    EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";
}

TEST_F(ListWindowFill, ErrorsWhileReadingARow) {
    struct Case {
        const char* name;
        int anniversaryError, appointmentError;
        int anniversaries, appointments; // rows left in each list
        bool asksForRefresh;
    };
    const std::vector<Case> cases{
        {"row deleted among the anniversaries", ErrorNumber::RecordDeleted, 0, 2, 0, true},
        {"row deleted among the appointments", 0, ErrorNumber::RecordDeleted, 4, 2, true},
        {"engine failure among the anniversaries", ErrorNumber::EngineFailure, 0, 2, 0, false},
        {"engine failure among the appointments", 0, ErrorNumber::EngineFailure, 4, 2, false},
        {"diary busy among the appointments", 0, ErrorNumber::DiaryBusy, 4, 2, false},
    };
    anniversaryDays = 0;
    appointmentDays = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FakeRow> anniversaries(4, FakeRow{At(1990, 12, 7)});
        std::vector<FakeRow> appointments(4, FakeRow{At(2026, 12, 7, 9, 0)});
        anniversaries[2].error = c.anniversaryError;
        appointments[2].error = c.appointmentError;
        Open(anniversaries, appointments);
        const FillEnd end = ShowAll();
        EXPECT_EQ(lvAnniversary.ListItems.Count(), c.anniversaries);
        EXPECT_EQ(lvAppointment.ListItems.Count(), c.appointments);
        // The window shows "Please Refresh" for RecordDeleted (its own test).
        EXPECT_EQ(end, c.asksForRefresh ? FillEnd::RecordDeleted : FillEnd::Failed);
        // The window keeps what it showed when the diary could not be read.
        EXPECT_TRUE(error.reading);
        EXPECT_EQ(error.number, c.anniversaryError + c.appointmentError);
    }
}

TEST_F(ListWindowFill, NoCurrentRecordMidWalkGoesOnWithTheNextStep) {
    anniversaryDays = 0;
    appointmentDays = 0;
    std::vector<FakeRow> anniversaries(3, FakeRow{At(1990, 12, 7), "a"});
    anniversaries[1].error = ErrorNumber::NoCurrentRecord;
    Open(anniversaries, {{At(2026, 12, 7, 9, 0), "b"}});
    const FillEnd end = ShowAll();
    // Each failing step of that row is skipped, the test included, so the row is listed (empty)
    // in both passes; the walk and the appointment half go on.
    EXPECT_EQ(AnniversaryRows(), (std::vector<Row>{{"001", "07/12/2026", "a"},
                                                   {"002", "", ""},
                                                   {"003", "07/12/2026", "a"},
                                                   {"004", "", ""}}));
    EXPECT_EQ(lvAppointment.ListItems.Count(), 1);
    EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";
}

TEST_F(ListWindowFill, CounterOverflowEndsTheFillSilently) {
    anniversaryDays = 0;
    appointmentDays = 0;
    Open(std::vector<FakeRow>(32768, FakeRow{At(1990, 12, 7)}), {{At(2026, 12, 7, 9, 0)}});
    const FillEnd end = ShowAll();
    EXPECT_EQ(lvAnniversary.ListItems.Count(), 32767);
    EXPECT_EQ(lvAppointment.ListItems.Count(), 0);
    EXPECT_EQ(end, FillEnd::Failed);
    EXPECT_EQ(error.number, ErrorNumber::Overflow);
    EXPECT_FALSE(error.reading) << "the fill's own limit, not the diary's: its rows are shown";
}

TEST_F(ListWindowFill, WithoutAnOpenDiaryBothListsStayEmpty) {
    anniversaryDays = 10;
    const FillEnd end = ShowAll();
    EXPECT_EQ(lvAnniversary.ListItems.Count(), 0);
    EXPECT_EQ(lvAppointment.ListItems.Count(), 0);
    EXPECT_NE(end, FillEnd::RecordDeleted) << "no request to refresh";
}

TEST_F(ListWindowFill, ARefillReplacesTheRows) {
    anniversaryDays = 1;
    appointmentDays = 1;
    Open({{At(1990, 12, 7), "a"}, {At(1990, 12, 8), "b"}}, {{At(2026, 12, 7, 9, 0), "c"}});
    ShowAll();
    anniversaryDays = 0;
    appointmentDays = -1;
    ShowAll();
    EXPECT_EQ(AnniversaryRows(), (std::vector<Row>{{"001", "07/12/2026", "a"}}));
    EXPECT_EQ(lvAppointment.ListItems.Count(), 0);
}

// A cursor that raises "no current record" instead of moving on: the handler would skip the
// move and visit the same row for ever; the walk ends there instead, in both fills.
TEST_F(ListWindowFill, AWalkThatCannotMoveOnEnds) {
    FakeTable stuck = TableOf({{At(1990, 12, 7), "a"}, {At(1990, 12, 7), "b"}, {At(1990, 12, 7)}});
    stuck.failOnMoveNext[1] = ErrorNumber::NoCurrentRecord;
    FakeTable appointments = TableOf({{At(2026, 12, 7, 9, 0), "c"}, {At(2026, 12, 7, 9, 5), "d"}});
    appointments.failOnMoveNext[0] = ErrorNumber::NoCurrentRecord;
    rsAnniversary = std::make_shared<FakeRecordset>(stuck);
    rsAppointment = std::make_shared<FakeRecordset>(appointments);
    anniversaryDays = 400; // both passes list every row they reach
    appointmentDays = 0;
    EXPECT_EQ(ShowAll(), FillEnd::Complete);
    EXPECT_EQ(AnniversaryRows(), (std::vector<Row>{{"001", "07/12/2026", "a"},
                                                   {"002", "07/12/2026", "b"},
                                                   {"003", "07/12/2027", "a"},
                                                   {"004", "07/12/2027", "b"}}));
    EXPECT_EQ(AppointmentRows(), (std::vector<Row>{{"001", "07/12/2026 09:00", "c"}}));

    ListView agentList;
    ListFillMembers agentMembers;
    FakeRecordset agentAppointments(stuck);
    EXPECT_EQ(FillAgentAppointments(&agentAppointments, 32767, today, agentList, agentMembers),
              FillEnd::Complete);
    EXPECT_EQ(agentList.ListItems.Count(), 0) << "anniversaries of 1990 are past";
    FakeRecordset agentStuck(appointments);
    EXPECT_EQ(FillAgentAppointments(&agentStuck, 0, today, agentList, agentMembers),
              FillEnd::Complete);
    ASSERT_EQ(agentList.ListItems.Count(), 1);
    EXPECT_EQ(agentList.ListItems.Item(1).SubItems(3), "c");
}

// Where the two fills part: a date that cannot be read (3021) and a field 0 that holds text.
TEST_F(ListWindowFill, TheTwoFillsPartOnlyOnDatesTheyCannotTest) {
    struct Case {
        const char* name;
        FakeRow odd;
        std::vector<std::string> windowSubjects, agentSubjects;
        FillEnd agentEnd;
    };
    const std::vector<Case> cases{
        {"date unreadable: the window lists the row without texts, the agent passes it over",
         {At(2026, 12, 7, 9, 0), "odd", ErrorNumber::NoCurrentRecord},
         {"a", "", "c"},
         {"a", "c"},
         FillEnd::Complete},
        {"text for a date: the window passes it over, the agent ends there",
         {std::string("soon"), "odd"},
         {"a", "c"},
         {"a"},
         FillEnd::Failed},
        {"Null date: passed over by both",
         {Null{}, "odd"},
         {"a", "c"},
         {"a", "c"},
         FillEnd::Complete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<FakeRow> rows{
            {At(2026, 12, 7, 9, 0), "a"}, c.odd, {At(2026, 12, 7, 11, 0), "c"}};
        Open({}, rows);
        EXPECT_EQ(ShowAll(), FillEnd::Complete);
        std::vector<std::string> windowSubjects;
        for (const Row& row : AppointmentRows())
            windowSubjects.push_back(row.text);
        EXPECT_EQ(windowSubjects, c.windowSubjects);

        ListView agentList;
        ListFillMembers agentMembers;
        FakeRecordset agentAppointments(rows);
        EXPECT_EQ(FillAgentAppointments(&agentAppointments, 0, today, agentList, agentMembers),
                  c.agentEnd);
        std::vector<std::string> agentSubjects;
        for (int k = 1; k <= agentList.ListItems.Count(); ++k)
            agentSubjects.push_back(agentList.ListItems.Item(k).SubItems(3));
        EXPECT_EQ(agentSubjects, c.agentSubjects);
    }
}

} // namespace
} // namespace zurodid::testing
