#include "agent/AgentFixture.h"

namespace zurodid::testing {
namespace {

using Rows = std::vector<std::vector<Variant>>;
const Variant kNull{Null{}};
Variant Text(const char* text) {
    return Variant{std::string(text)};
}

class AgentShowAll : public AgentFixture {
protected:
    void Open() {
        state.DiaryStore.rsAppointment =
            std::make_shared<FakeRecordset>(diary.tables["Appointment"]);
    }
};

TEST_F(AgentShowAll, ListsTheDaysFromTodayThroughTheSetting) {
    state.AgentSettings.AppointmentStartUp = 3;
    clock.now = At(2026, 12, 7, 9, 0);
    Appointments({{Date(2026, 12, 6, 23, 59), Text("yesterday")},
                  {Date(2026, 12, 7, 8, 0), Text("passed today")},
                  {Date(2026, 12, 10, 23, 59), Text("last minute")},
                  {Date(2026, 12, 11, 0, 0), Text("day after")},
                  {Date(2025, 12, 8, 10, 0), Text("last year")},
                  {Date(2026, 12, 8, 10, 30), kNull},
                  {kNull, Text("no date")},
                  {Variant{OleDateFromDateTime(At(2026, 12, 9, 7, 15))}, Text("as number")}});
    Open();
    agent.ShowAll();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"001", "002", "003", "004"}));
    EXPECT_EQ(Column(1),
              (std::vector<std::string>{"07/12/2026", "10/12/2026", "08/12/2026", "09/12/2026"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"08:00", "23:59", "10:30", "07:15"}));
    EXPECT_EQ(Column(3),
              (std::vector<std::string>{"passed today", "last minute", "", "as number"}));
    EXPECT_EQ(frmAgentTestAccess::ItemCounter(agent), 4);
}

TEST_F(AgentShowAll, WindowEdges) {
    struct Case {
        int days;
        std::size_t listed;
    };
    for (auto [days, listed] : {Case{0, 1}, Case{-1, 0}, Case{1, 2}, Case{32767, 3}}) {
        agent.lvAppointment.ListItems.Clear();
        state.AgentSettings.AppointmentStartUp = static_cast<std::int16_t>(days);
        Appointments({{Date(2026, 12, 7, 0, 0), Text("today")},
                      {Date(2026, 12, 8, 0, 0), Text("tomorrow")},
                      {Date(2100, 1, 1, 0, 0), Text("far")}});
        Open();
        agent.ShowAll();
        EXPECT_EQ(Column(0).size(), listed) << days;
    }
}

TEST_F(AgentShowAll, NumbersRowsWithoutGapsAndAppendsASecondRun) {
    state.AgentSettings.AppointmentStartUp = 0;
    Rows rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back({Date(2026, 12, 7, 10, 0), Text("x")});
        rows.push_back({Date(2026, 12, 1, 10, 0), Text("skipped")});
    }
    Appointments(rows);
    Open();
    agent.ShowAll();
    auto numbers = Column(0);
    ASSERT_EQ(numbers.size(), 1000u);
    for (auto [k, text] :
         {std::pair{9, "009"}, {10, "010"}, {99, "099"}, {100, "100"}, {1000, "1000"}})
        EXPECT_EQ(numbers[static_cast<std::size_t>(k - 1)], text);
    agent.ShowAll();
    EXPECT_EQ(Column(0).size(), 2000u);
    EXPECT_EQ(Column(0)[1000], "001");
}

TEST_F(AgentShowAll, AnEmptyTableLeavesListAndCounter) {
    agent.lvAppointment.ListItems.Add("keep");
    frmAgentTestAccess::ItemCounter(agent) = 42;
    Appointments({});
    Open();
    agent.ShowAll();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"keep"}));
    EXPECT_EQ(frmAgentTestAccess::ItemCounter(agent), 42);
}

TEST_F(AgentShowAll, FailuresHalfwayKeepTheRowsBefore) {
    struct Case {
        const char* name;
        std::map<std::size_t, int> failOnRead;
        std::map<std::size_t, int> failOnMoveNext;
        std::vector<std::string> subjects;
    };
    const Case cases[] = {
        {"deleted row ends the fill", {{1, ErrorNumber::RecordDeleted}}, {}, {"a"}},
        {"damaged file ends the fill", {{2, ErrorNumber::DatabaseDamaged}}, {}, {"a", "b"}},
        {"no current record is skipped", {{1, ErrorNumber::NoCurrentRecord}}, {}, {"a", "c"}},
        {"a failed move ends the fill", {}, {{0, ErrorNumber::DatabaseDamaged}}, {"a"}},
        // Skipping that move would visit the same row for ever.
        {"a move that finds no row and stays ends the walk",
         {},
         {{1, ErrorNumber::NoCurrentRecord}},
         {"a", "b"}},
    };
    for (const auto& c : cases) {
        agent.lvAppointment.ListItems.Clear();
        Appointments({{Date(2026, 12, 7, 10, 0), Text("a")},
                      {Date(2026, 12, 7, 11, 0), Text("b")},
                      {Date(2026, 12, 7, 12, 0), Text("c")}});
        diary.tables["Appointment"].failOnRead = c.failOnRead;
        diary.tables["Appointment"].failOnMoveNext = c.failOnMoveNext;
        Open();
        agent.ShowAll();
        EXPECT_EQ(Column(3), c.subjects) << c.name;
        EXPECT_TRUE(desktop.boxes.empty()) << c.name;
    }
}

TEST_F(AgentShowAll, AFieldThatIsNoDateEndsTheFillQuietly) {
    Appointments({{Date(2026, 12, 7, 10, 0), Text("a")},
                  {Text("tomorrow"), Text("b")},
                  {Date(2026, 12, 7, 12, 0), Text("c")}});
    Open();
    agent.ShowAll();
    EXPECT_EQ(Column(3), (std::vector<std::string>{"a"}));
}

TEST_F(AgentShowAll, AFillAcrossMidnightListsOneDaysWindow) {
    state.AgentSettings.AppointmentStartUp = 0;
    clock.now = At(2026, 12, 7, 23, 59, 59);
    clock.onRead = [](FakeClock& c) { c.now = At(2026, 12, 8, 0, 0, 0); };
    Appointments({{Date(2026, 12, 7, 10, 0), Text("today")},
                  {Date(2026, 12, 8, 10, 0), Text("tomorrow")},
                  {Date(2026, 12, 7, 11, 0), Text("today too")}});
    Open();
    agent.ShowAll();
    EXPECT_EQ(Column(3), (std::vector<std::string>{"today", "today too"}));
}

TEST_F(AgentShowAll, StopsAtTheSixteenBitLimit) {
    Appointments(Rows(32768, {Date(2026, 12, 7, 10, 0), Text("x")}));
    Open();
    agent.ShowAll();
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 32767);
    EXPECT_EQ(frmAgentTestAccess::ItemCounter(agent), 32767);
}

TEST_F(AgentShowAll, NoRecordsetIsAQuietEnd) {
    agent.ShowAll();
    EXPECT_EQ(agent.lvAppointment.ListItems.Count(), 0);
}

} // namespace
} // namespace zurodid::testing
