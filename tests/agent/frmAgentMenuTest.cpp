#include "agent/AgentFixture.h"

namespace zurodid::testing {
namespace {

using TrayAndMenu = AgentFixture;

TEST_F(TrayAndMenu, TrayMessagesComeInTheHorizontalCoordinate) {
    struct Case {
        float x;
        int lists, menus;
    };
    const Case cases[] = {
        {514 * 15.0f, 1, 0},     {517 * 15.0f, 0, 1},     {512 * 15.0f, 0, 0},
        {513 * 15.0f, 0, 0},     {515 * 15.0f, 0, 0},     {516 * 15.0f, 0, 0},
        {514 * 15.0f + 7, 1, 0}, {514 * 15.0f + 8, 0, 0}, {0, 0, 0},
    };
    for (const auto& c : cases) {
        desktop.shown.clear();
        desktop.menusOpened = 0;
        agent.Form_MouseMove(0, 0, c.x, 0);
        EXPECT_EQ(desktop.ShowCount(WindowName::frmList), c.lists) << c.x;
        EXPECT_EQ(desktop.menusOpened, c.menus) << c.x;
    }
    desktop.twipsPerPixel = 12; // 120 dpi
    desktop.shown.clear();
    agent.Form_MouseMove(0, 0, 514 * 12.0f, 0);
    EXPECT_EQ(desktop.ShowCount(WindowName::frmList), 1);
}

TEST_F(TrayAndMenu, MenuItemsByIndex) {
    struct Case {
        std::int16_t index;
        std::vector<std::pair<WindowName, ShowMode>> shown;
    };
    const Case cases[] = {
        {IndexOf(PopupItem::Show), {{WindowName::frmList, ShowMode::Modeless}}},
        {IndexOf(PopupItem::Options), {{WindowName::frmOption, ShowMode::Modeless}}},
        {IndexOf(PopupItem::About), {{WindowName::frmAbout, ShowMode::Modal}}},
        {IndexOf(PopupItem::SeparatorBeforeRun), {}},
        {IndexOf(PopupItem::SeparatorBeforeExit), {}},
        {8, {}},
        {-1, {}},
    };
    for (const auto& c : cases) {
        desktop.shown.clear();
        agent.mnusubpopup_Click(c.index);
        EXPECT_EQ(desktop.shown, c.shown) << c.index;
        EXPECT_TRUE(desktop.started.empty()) << c.index;
    }
    EXPECT_THROW(agent.mnusubpopup_Click(IndexOf(PopupItem::Exit)), ProcessEnded);
}

TEST_F(TrayAndMenu, RunZurodidStartsTheMainProgramEachTime) {
    agent.mnusubpopup_Click(IndexOf(PopupItem::RunZurodid));
    agent.mnusubpopup_Click(IndexOf(PopupItem::RunZurodid));
    ASSERT_EQ(desktop.started.size(), 2u);
    EXPECT_EQ(desktop.started[0].program, folder / "Zurodid.exe");
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(TrayAndMenu, RunZurodidThatCannotStartSaysWhy) {
    desktop.startOutcome = {false, "the file does not exist"};
    agent.mnusubpopup_Click(IndexOf(PopupItem::RunZurodid));
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
    EXPECT_NE(desktop.boxes[0].text.find("Zurodid.exe"), std::string::npos);
    EXPECT_NE(desktop.boxes[0].text.find("the file does not exist"), std::string::npos);
}

} // namespace
} // namespace zurodid::testing
