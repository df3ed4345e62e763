#include "windows/frmList.h"

#include "WindowTestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QTreeView>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

struct Row {
    std::string number, date, text;
    friend bool operator==(const Row&, const Row&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Row& row) {
        return out << row.number << " | " << row.date << " | " << row.text;
    }
};

std::vector<Row> AnniversaryRows(const frmList& list) {
    std::vector<Row> rows;
    const auto& items = list.lvAnniversary.ListItems;
    for (int k = 1; k <= items.Count(); ++k)
        rows.push_back(
            {items.Item(k).Text(), items.Item(k).SubItems(1), items.Item(k).SubItems(2)});
    return rows;
}

// Appointment rows with date and time joined: "07/12/2026 09:05".
std::vector<Row> AppointmentRows(const frmList& list) {
    std::vector<Row> rows;
    const auto& items = list.lvAppointment.ListItems;
    for (int k = 1; k <= items.Count(); ++k)
        rows.push_back({items.Item(k).Text(),
                        items.Item(k).SubItems(1) + " " + items.Item(k).SubItems(2),
                        items.Item(k).SubItems(3)});
    return rows;
}

class ListFill : public ::testing::Test {
protected:
    void Open(std::vector<FakeRow> anniversaries, std::vector<FakeRow> appointments) {
        state->DiaryStore.rsAnniversary = std::make_shared<FakeRecordset>(std::move(anniversaries));
        state->DiaryStore.rsAppointment = std::make_shared<FakeRecordset>(std::move(appointments));
    }

    std::unique_ptr<ProcessState> state = MakeState("/nonexistent");
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7, 10, 0)};
    frmList list{*state, desktop, clock};
};

struct AnniversaryCase {
    const char* name;
    DateTime today;
    std::int16_t days;
    std::vector<FakeRow> table;
    std::vector<Row> expected;
};

TEST_F(ListFill, AnniversariesWithinTheWindowThisYearThenNextYear) {
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
        state->AgentSettings.AnniversaryStartUp = c.days;
        clock.Set(c.today);
        Open(c.table, {{c.today, "appointment"}});
        list.ShowAll();
        EXPECT_EQ(AnniversaryRows(list), c.expected);
        // The appointment half always runs after a complete anniversary half.
        EXPECT_EQ(list.lvAppointment.ListItems.Count(), 1);
        EXPECT_TRUE(desktop.boxes.empty());
    }
}

struct AppointmentCase {
    const char* name;
    std::int16_t days;
    std::vector<FakeRow> table;
    std::vector<Row> expected;
};

TEST_F(ListFill, AppointmentsWithinTheWindowInTableOrder) {
    const Variant null = Null{};
    clock.Set(At(2026, 12, 7, 10, 0));
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
    state->AgentSettings.AnniversaryStartUp = 30;
    for (const AppointmentCase& c : cases) {
        SCOPED_TRACE(c.name);
        state->AgentSettings.AppointmentStartUp = c.days;
        // Five anniversaries listed first: appointments still count from 001.
        Open(std::vector<FakeRow>(5, FakeRow{At(1990, 12, 8), "anniversary"}), c.table);
        list.ShowAll();
        EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 5);
        EXPECT_EQ(AppointmentRows(list), c.expected);
        EXPECT_TRUE(desktop.boxes.empty());
    }
}

TEST_F(ListFill, NumbersWidenAtTenHundredAndThousand) {
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = 0;
    Open(std::vector<FakeRow>(1000, FakeRow{At(1990, 12, 7)}),
         std::vector<FakeRow>(1000, FakeRow{At(2026, 12, 7, 9, 0)}));
    list.ShowAll();
    for (const ListView* view : {&list.lvAnniversary, &list.lvAppointment}) {
        const auto& items = view->ListItems;
        ASSERT_EQ(items.Count(), 1000);
        EXPECT_EQ(items.Item(9).Text(), "009");
        EXPECT_EQ(items.Item(10).Text(), "010");
        EXPECT_EQ(items.Item(99).Text(), "099");
        EXPECT_EQ(items.Item(100).Text(), "100");
        EXPECT_EQ(items.Item(1000).Text(), "1000");
    }
}

TEST_F(ListFill, EmptyTablesGiveEmptyListsWithoutMessage) {
    state->AgentSettings.AnniversaryStartUp = 10;
    state->AgentSettings.AppointmentStartUp = 10;
    Open({}, {{At(2026, 12, 8, 9, 0), "kept"}});
    list.ShowAll();
    EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 0);
    EXPECT_EQ(AppointmentRows(list), (std::vector<Row>{{"001", "08/12/2026 09:00", "kept"}}));

    Open({{At(1990, 12, 8), "kept"}}, {});
    list.ShowAll();
    EXPECT_EQ(AnniversaryRows(list), (std::vector<Row>{{"001", "08/12/2026", "kept"}}));
    EXPECT_EQ(list.lvAppointment.ListItems.Count(), 0);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListFill, ErrorsWhileReadingARow) {
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
    };
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        desktop.boxes.clear();
        std::vector<FakeRow> anniversaries(4, FakeRow{At(1990, 12, 7)});
        std::vector<FakeRow> appointments(4, FakeRow{At(2026, 12, 7, 9, 0)});
        anniversaries[2].error = c.anniversaryError;
        appointments[2].error = c.appointmentError;
        Open(anniversaries, appointments);
        list.ShowAll();
        EXPECT_EQ(list.lvAnniversary.ListItems.Count(), c.anniversaries);
        EXPECT_EQ(list.lvAppointment.ListItems.Count(), c.appointments);
        if (c.asksForRefresh) {
            ASSERT_EQ(desktop.boxes.size(), 1u);
            EXPECT_EQ(desktop.boxes[0].text, "Please Refresh");
            EXPECT_EQ(desktop.boxes[0].icon, vbInformation);
            EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
        } else {
            EXPECT_TRUE(desktop.boxes.empty());
        }
    }
}

TEST_F(ListFill, NoCurrentRecordMidWalkGoesOnWithTheNextStep) {
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = 0;
    std::vector<FakeRow> anniversaries(3, FakeRow{At(1990, 12, 7), "a"});
    anniversaries[1].error = ErrorNumber::NoCurrentRecord;
    Open(anniversaries, {{At(2026, 12, 7, 9, 0), "b"}});
    list.ShowAll();
    // Each failing step of that row is skipped, the test included, so the row is listed (empty)
    // in both passes; the walk and the appointment half go on.
    EXPECT_EQ(AnniversaryRows(list), (std::vector<Row>{{"001", "07/12/2026", "a"},
                                                       {"002", "", ""},
                                                       {"003", "07/12/2026", "a"},
                                                       {"004", "", ""}}));
    EXPECT_EQ(list.lvAppointment.ListItems.Count(), 1);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListFill, CounterOverflowEndsTheFillSilently) {
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = 0;
    Open(std::vector<FakeRow>(32768, FakeRow{At(1990, 12, 7)}), {{At(2026, 12, 7, 9, 0)}});
    list.ShowAll();
    EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 32767);
    EXPECT_EQ(list.lvAppointment.ListItems.Count(), 0);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListFill, WithoutAnOpenDiaryBothListsStayEmpty) {
    state->AgentSettings.AnniversaryStartUp = 10;
    list.ShowAll();
    EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 0);
    EXPECT_EQ(list.lvAppointment.ListItems.Count(), 0);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListFill, ARefillReplacesTheRows) {
    state->AgentSettings.AnniversaryStartUp = 1;
    state->AgentSettings.AppointmentStartUp = 1;
    Open({{At(1990, 12, 7), "a"}, {At(1990, 12, 8), "b"}}, {{At(2026, 12, 7, 9, 0), "c"}});
    list.ShowAll();
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = -1;
    list.ShowAll();
    EXPECT_EQ(AnniversaryRows(list), (std::vector<Row>{{"001", "07/12/2026", "a"}}));
    EXPECT_EQ(list.lvAppointment.ListItems.Count(), 0);
}

TEST_F(ListFill, TheViewsShowTheRowsInOrderUnderTheirHeaders) {
    state->AgentSettings.AnniversaryStartUp = 3;
    state->AgentSettings.AppointmentStartUp = 3;
    Open({{At(1990, 12, 9), "ปีใหม่"}, {At(1990, 12, 8), "b"}}, {{At(2026, 12, 8, 9, 5), "นัด"}});
    list.ShowAll();
    auto* anniversaries = list.findChild<QTreeView*>("lvAnniversary");
    auto* appointments = list.findChild<QTreeView*>("lvAppointment");
    ASSERT_TRUE(anniversaries && appointments);
    QAbstractItemModel* upper = anniversaries->model();
    QAbstractItemModel* lower = appointments->model();
    ASSERT_EQ(upper->rowCount(), 2);
    EXPECT_EQ(upper->index(0, 0).data().toString(), "001");
    EXPECT_EQ(upper->index(0, 1).data().toString(), "09/12/2026");
    EXPECT_EQ(upper->index(0, 2).data().toString(), QString::fromUtf8("ปีใหม่"));
    EXPECT_EQ(upper->index(1, 2).data().toString(), "b");
    EXPECT_EQ(upper->headerData(2, Qt::Horizontal).toString(),
              QString::fromUtf8("วันสำคัญ / Anniversary"));
    ASSERT_EQ(lower->rowCount(), 1);
    EXPECT_EQ(lower->columnCount(), 4);
    EXPECT_EQ(lower->index(0, 2).data().toString(), "09:05");
    EXPECT_EQ(lower->index(0, 3).data().toString(), QString::fromUtf8("นัด"));
    EXPECT_FALSE(anniversaries->isSortingEnabled());
    EXPECT_EQ(appointments->header()->sectionSize(3), 286);

    // Rows cleared and added outside a fill reach the view as well.
    list.lvAppointment.ListItems.Clear();
    EXPECT_EQ(lower->rowCount(), 0);
    list.lvAppointment.ListItems.Add("001").SetSubItems(3, "late");
    ASSERT_EQ(lower->rowCount(), 1);
    EXPECT_EQ(lower->index(0, 3).data().toString(), "late");
}

TEST_F(ListFill, TheWindowShowsNoIcon) {
    QPixmap opaque(16, 16);
    opaque.fill(Qt::red);
    QApplication::setWindowIcon(QIcon(opaque)); // as main sets the agent's icon for all windows
    QImage icon = list.windowIcon().pixmap(16, 16).toImage();
    ASSERT_FALSE(icon.isNull());
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            ASSERT_EQ(icon.pixelColor(x, y).alpha(), 0) << x << "," << y;
    QApplication::setWindowIcon(QIcon());
}

} // namespace
} // namespace zurodid::test
