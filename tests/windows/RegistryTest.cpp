#include "WindowTestSupport.h"
#include "windows/WindowRegistry.h"
#include "windows/frmList.h"

#include <QScreen>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

class SharedWindows : public ::testing::Test {
protected:
    ~SharedWindows() override { DeleteClosedWindows(); }

    void OpenDiary(std::vector<FakeRow> anniversaries) {
        state->DiaryStore.rsAnniversary = std::make_shared<FakeRecordset>(std::move(anniversaries));
        state->DiaryStore.rsAppointment = std::make_shared<FakeRecordset>(std::vector<FakeRow>{});
    }

    std::unique_ptr<ProcessState> state = MakeState("/nonexistent");
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7, 10, 0)};
    FakeLinkLauncher links;
    WindowRegistry registry{*state, desktop, clock, links};
};

TEST_F(SharedWindows, ShowingALoadedListOnlyBringsItForward) {
    state->AgentSettings.AnniversaryStartUp = 5;
    OpenDiary({{At(1990, 12, 8), "a"}});
    registry.Show(WindowName::frmList, ShowMode::Modeless);
    QWidget* shown = registry.Window(WindowName::frmList);
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(registry.List().lvAnniversary.ListItems.Count(), 1);

    // The data changes; a second show keeps the rows it has.
    OpenDiary({{At(1990, 12, 8), "a"}, {At(1990, 12, 9), "b"}});
    registry.Show(WindowName::frmList, ShowMode::Modeless);
    EXPECT_EQ(registry.Window(WindowName::frmList), shown);
    EXPECT_EQ(registry.List().lvAnniversary.ListItems.Count(), 1);

    // Closing unloads it; the next show loads and fills it afresh.
    shown->close();
    EXPECT_FALSE(registry.IsLoaded(WindowName::frmList));
    DeleteClosedWindows();
    registry.Show(WindowName::frmList, ShowMode::Modeless);
    EXPECT_EQ(registry.List().lvAnniversary.ListItems.Count(), 2);
}

TEST_F(SharedWindows, TheListAskedForByCodeIsLoadedHidden) {
    state->AgentSettings.AnniversaryStartUp = 5;
    OpenDiary({{At(1990, 12, 8), "a"}});
    frmList& list = registry.List();
    EXPECT_TRUE(registry.IsLoaded(WindowName::frmList));
    EXPECT_FALSE(list.isVisible());
    EXPECT_EQ(list.lvAnniversary.ListItems.Count(), 1);
    EXPECT_EQ(&registry.List(), &list);
}

TEST_F(SharedWindows, WindowsOpenFixedSizeAndCentred) {
    struct Case {
        WindowName window;
        QSize client;
    };
    const std::vector<Case> cases{{WindowName::frmList, {481, 313}},
                                  {WindowName::frmOption, {257, 213}},
                                  {WindowName::frmAbout, {282, 235}}};
    for (const Case& c : cases) {
        registry.Show(c.window, ShowMode::Modeless);
        QWidget* window = registry.Window(c.window);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->size(), c.client);
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        QRect screen = window->screen()->availableGeometry();
        // Within the frame's margins, which only the window manager knows.
        EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 8);
        window->close();
    }
}

// The controls that Tab reaches, in order, from the one that has the focus when the window
// opens.
std::vector<QString> TabOrder(QWidget& window) {
    std::vector<QString> order;
    QWidget* first = window.focusWidget();
    if (!first)
        return order;
    QWidget* widget = first;
    do {
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
            window.isAncestorOf(widget))
            order.push_back(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != first && order.size() < 20);
    return order;
}

TEST_F(SharedWindows, FocusStartsAndTabsAsLaidOut) {
    struct Case {
        WindowName window;
        std::vector<QString> order;
    };
    const std::vector<Case> cases{
        {WindowName::frmLogIn, {"txtPassword", "cmdOk", "cmdCancel"}},
        {WindowName::frmOption,
         {"chkStartUp", "chkRemind", "cmdOK", "cmdCancel", "txtAnniversaryStartUp",
          "txtAppointmentStartUp", "txtAppointmentRemind"}},
        {WindowName::frmAbout, {"Command1"}},
    };
    for (const Case& c : cases) {
        registry.Show(c.window, ShowMode::Modeless);
        QWidget* window = registry.Window(c.window);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(TabOrder(*window), c.order);
        window->close();
    }
}

} // namespace
} // namespace zurodid::test
