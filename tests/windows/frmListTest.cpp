// What only the list window does: its views, its icon and the "Please Refresh" box. The fill
// rules themselves are tested without a window (tests/store/ListFillTest.cpp).
#include "windows/frmList.h"

#include "WindowTestSupport.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QIcon>
#include <QPixmap>
#include <QToolTip>
#include <QTreeView>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

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

TEST_F(ListFill, ADeletedRowAsksForARefreshAndADiaryThatCannotBeReadKeepsTheRowsShown) {
    struct Case {
        const char* name;
        int anniversaryError, appointmentError;
        bool asksForRefresh;
        const char* logged; // a failure the user is not shown goes to the log
        int anniversaries, appointments;
    };
    const char* kept = "zurodid-agent: filling the list window, kept the rows it showed: ";
    const std::vector<Case> cases{
        {"row deleted among the anniversaries", ErrorNumber::RecordDeleted, 0, true, nullptr, 2, 0},
        {"row deleted among the appointments", 0, ErrorNumber::RecordDeleted, true, nullptr, 4, 2},
        {"engine failure among the anniversaries", ErrorNumber::EngineFailure, 0, false, kept, 1,
         1},
        {"diary busy among the appointments", 0, ErrorNumber::DiaryBusy, false, kept, 1, 1},
        {"no failure", 0, 0, false, nullptr, 4, 4},
    };
    state->AgentSettings.AnniversaryStartUp = 0;
    state->AgentSettings.AppointmentStartUp = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open({{At(1990, 12, 7), "shown"}}, {{At(2026, 12, 7, 9, 0), "shown"}});
        list.ShowAll();
        desktop.boxes.clear();
        std::vector<FakeRow> anniversaries(4, FakeRow{At(1990, 12, 7)});
        std::vector<FakeRow> appointments(4, FakeRow{At(2026, 12, 7, 9, 0)});
        anniversaries[2].error = c.anniversaryError;
        appointments[2].error = c.appointmentError;
        Open(anniversaries, appointments);
        testing::LogCapture log;
        list.ShowAll();
        if (c.logged) {
            ASSERT_EQ(log.lines.size(), 1u);
            EXPECT_EQ(log.lines[0].rfind(c.logged, 0), 0u) << log.lines[0];
            EXPECT_NE(log.lines[0].find(std::to_string(c.anniversaryError + c.appointmentError)),
                      std::string::npos)
                << log.lines[0];
            EXPECT_TRUE(log.lines[0].ends_with(": /nonexistent/Zurodid.mdb")) << log.lines[0];
        } else {
            EXPECT_TRUE(log.lines.empty());
        }
        EXPECT_EQ(list.lvAnniversary.ListItems.Count(), c.anniversaries);
        EXPECT_EQ(list.lvAppointment.ListItems.Count(), c.appointments);
        EXPECT_EQ(list.findChild<QTreeView*>("lvAppointment")->model()->rowCount(), c.appointments);
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

TEST_F(ListFill, WithoutAnOpenDiaryAnEmptyListIsNotLoggedAgain) {
    testing::LogCapture log;
    list.ShowAll();
    EXPECT_TRUE(log.lines.empty()) << log.lines[0];
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

TEST_F(ListFill, ACellShowsItsWholeTextAsATipWhereThePointerRests) {
    const std::string subject = "ประชุมคณะกรรมการ / Board meeting about the new building, room 4, "
                                "bring the plans and last year's figures";
    ListItem& row = list.lvAppointment.ListItems.Add("001");
    row.SetSubItems(1, "07/12/2026");
    row.SetSubItems(2, "09:05");
    row.SetSubItems(3, subject);
    list.lvAppointment.ListItems.Add("002").SetSubItems(2, "10:00"); // no subject
    list.show();
    auto* view = list.findChild<QTreeView*>("lvAppointment");
    ASSERT_NE(view, nullptr);
    struct Case {
        int row, column;
        QString tip; // empty: no tip
    };
    const Case cases[] = {
        {0, 3, QString::fromStdString(subject)},
        {0, 0, "001"},
        {0, 2, "09:05"},
        {1, 3, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.row << "," << c.column);
        const QModelIndex index = view->model()->index(c.row, c.column);
        if (c.tip.isEmpty()) {
            // An empty tip would only flash an empty box.
            EXPECT_FALSE(index.data(Qt::ToolTipRole).isValid());
            continue;
        }
        const QRect cell = view->visualRect(index);
        ASSERT_TRUE(cell.isValid());
        QHelpEvent rest(QEvent::ToolTip, cell.center(),
                        view->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(view->viewport(), &rest);
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), c.tip);
    }
    QToolTip::hideText();
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
