#include "windows/frmOption.h"

#include "WindowTestSupport.h"
#include "agent/frmAgent.h"
#include "support/LogCapture.h"
#include "windows/WindowRegistry.h"
#include "windows/frmList.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace zurodid::test {
namespace {

struct Settings {
    std::int16_t startUp, anniversary, appointment, remind, lead;
};

void Put(AgentSettings& settings, Settings values) {
    settings = {values.startUp, values.anniversary, values.appointment, values.remind, values.lead};
}

class OptionsDialog : public ::testing::Test {
protected:
    ~OptionsDialog() override { DeleteClosedWindows(); }

    frmOption& Open() {
        registry.Show(WindowName::frmOption, ShowMode::Modeless);
        return *qobject_cast<frmOption*>(registry.Window(WindowName::frmOption));
    }
    template <typename T> T& Control(const char* name) {
        T* control = registry.Window(WindowName::frmOption)->findChild<T*>(name);
        if (!control)
            throw std::runtime_error(std::string("no control ") + name);
        return *control;
    }
    void Type(const char* box, const QString& text) { Control<QLineEdit>(box).setText(text); }
    std::filesystem::path SettingsFile() const { return folder.Path() / "Zurodid.ini"; }

    TempFolder folder;
    std::unique_ptr<ProcessState> state = MakeState(folder.Path());
    FakeDesktop desktop;
    FakeClock clock{At(2026, 12, 7, 10, 0)};
    FakeLinkLauncher links;
    WindowRegistry registry{*state, desktop, clock, links};
};

TEST_F(OptionsDialog, TheWindowShowsNoIcon) {
    QPixmap opaque(16, 16);
    opaque.fill(Qt::red);
    QApplication::setWindowIcon(QIcon(opaque)); // as main sets the agent's icon for all windows
    QImage icon = Open().windowIcon().pixmap(16, 16).toImage();
    QApplication::setWindowIcon(QIcon());
    ASSERT_FALSE(icon.isNull());
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            ASSERT_EQ(icon.pixelColor(x, y).alpha(), 0) << x << "," << y;
}

TEST_F(OptionsDialog, LoadShowsTheSettingsInForce) {
    struct Case {
        Settings settings;
        Qt::CheckState startUp;
        QString anniversary, appointment;
        Qt::CheckState remind;
        QString lead;
    };
    const std::vector<Case> cases{
        {{1, 3, 7, 1, 10}, Qt::Checked, "3", "7", Qt::Checked, "10"},
        {{0, -5, 0, 0, -32768}, Qt::Unchecked, "-5", "0", Qt::Unchecked, "-32768"},
        {{2, 32767, 1, 2, 0}, Qt::PartiallyChecked, "32767", "1", Qt::PartiallyChecked, "0"},
        // A hand-edited file can hold any number: shown unchecked instead of failing.
        {{7, 1, 1, -1, 1}, Qt::Unchecked, "1", "1", Qt::Unchecked, "1"},
    };
    for (const Case& c : cases) {
        Put(state->AgentSettings, c.settings);
        Open();
        EXPECT_EQ(Control<QCheckBox>("chkStartUp").checkState(), c.startUp);
        EXPECT_EQ(Control<QLineEdit>("txtAnniversaryStartUp").text(), c.anniversary);
        EXPECT_EQ(Control<QLineEdit>("txtAppointmentStartUp").text(), c.appointment);
        EXPECT_EQ(Control<QCheckBox>("chkRemind").checkState(), c.remind);
        EXPECT_EQ(Control<QLineEdit>("txtAppointmentRemind").text(), c.lead);
        Control<QPushButton>("cmdCancel").click();
        EXPECT_FALSE(registry.IsLoaded(WindowName::frmOption));
        DeleteClosedWindows();
    }
}

TEST_F(OptionsDialog, OkWritesAllFiveKeysAsTypedAndConvertsForMemory) {
    struct Case {
        const char* name;
        QString anniversary, appointment, lead;
        std::string file;
        Settings inMemory;
    };
    const std::vector<Case> cases{
        {"unchanged",
         "3",
         "7",
         "10",
         "[Agent]\r\nStartUpRemind=1\r\nAnniversaryStartUp=3\r\nAppointmentStartUp=7\r\n"
         "Remind=1\r\nAppointmentRemind=10\r\n",
         {1, 3, 7, 1, 10}},
        {"blanks kept in the file, halves to even in memory",
         " 4 ",
         "2.5",
         "3.5",
         "[Agent]\r\nStartUpRemind=1\r\nAnniversaryStartUp= 4 \r\nAppointmentStartUp=2.5\r\n"
         "Remind=1\r\nAppointmentRemind=3.5\r\n",
         {1, 4, 2, 1, 4}},
        {"signs and the range ends",
         "-32768",
         "+32767",
         "-0.5",
         "[Agent]\r\nStartUpRemind=1\r\nAnniversaryStartUp=-32768\r\nAppointmentStartUp=+32767\r\n"
         "Remind=1\r\nAppointmentRemind=-0.5\r\n",
         {1, -32768, 32767, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(SettingsFile());
        Put(state->AgentSettings, {1, 3, 7, 1, 10});
        Open();
        Type("txtAnniversaryStartUp", c.anniversary);
        Type("txtAppointmentStartUp", c.appointment);
        Type("txtAppointmentRemind", c.lead);
        Control<QPushButton>("cmdOK").click();
        EXPECT_EQ(ReadBytes(SettingsFile()), c.file);
        const AgentSettings& s = state->AgentSettings;
        EXPECT_EQ(s.StartUpRemind, c.inMemory.startUp);
        EXPECT_EQ(s.AnniversaryStartUp, c.inMemory.anniversary);
        EXPECT_EQ(s.AppointmentStartUp, c.inMemory.appointment);
        EXPECT_EQ(s.Remind, c.inMemory.remind);
        EXPECT_EQ(s.AppointmentRemind, c.inMemory.lead);
        EXPECT_FALSE(registry.IsLoaded(WindowName::frmOption));
        EXPECT_TRUE(desktop.boxes.empty());
        DeleteClosedWindows();
    }
}

// OK looks at what is owed with the new settings at once, the timer asleep until then: an
// advance reminder switched on is owed from that minute on.
TEST_F(OptionsDialog, OkSwitchingAdvanceRemindersOnOwesThemFromItsMinute) {
    struct Case {
        const char* name;
        DateTime ok;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"at 09:45, after the 20-minute lead's minute", At(2026, 12, 7, 9, 45), {"16 10:00 : a"}},
        {"at 09:35, before it", At(2026, 12, 7, 9, 35), {"64 10:00 : a", "16 10:00 : a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(SettingsFile(), "[Agent]\r\nRemind=0\r\nAppointmentRemind=0\r\n");
        testing::FakeDiary diary;
        diary.tables["Anniversary"];
        diary.tables["Appointment"].rows = {
            {Variant{At(2026, 12, 7, 10, 0)}, Variant{std::string("a")}}};
        ProcessState agentState([this] { return folder.Path(); },
                                std::make_shared<testing::FakeEngine>(diary));
        FakeDesktop agentDesktop;
        WindowRegistry windows{agentState, agentDesktop, clock, links};
        frmAgent agent(agentState, agentDesktop, clock);
        agentDesktop.onWake = [&agent] { agent.Timer1_Timer(); };
        clock.now = At(2026, 12, 7, 9, 0);
        agent.Form_Load();
        agent.Timer1_Timer(); // the timer sleeps from here until the appointment's minute
        ASSERT_TRUE(agentDesktop.nextTicks.back().has_value());

        clock.now = c.ok;
        windows.Show(WindowName::frmOption, ShowMode::Modeless);
        QWidget* dialog = windows.Window(WindowName::frmOption);
        dialog->findChild<QCheckBox*>("chkRemind")->click();
        dialog->findChild<QLineEdit*>("txtAppointmentRemind")->setText("20");
        dialog->findChild<QPushButton*>("cmdOK")->click();
        for (; clock.now <= At(2026, 12, 7, 10, 1); clock.now += std::chrono::seconds{20})
            agent.Timer1_Timer();
        std::vector<std::string> boxes;
        for (const auto& box : agentDesktop.boxes)
            boxes.push_back(std::to_string(box.icon) + " " + box.text);
        EXPECT_EQ(boxes, c.boxes);
        DeleteClosedWindows();
    }
}

TEST_F(OptionsDialog, OkReplacesTheKeysInPlaceAndKeepsTheRestOfTheFile) {
    WriteBytes(SettingsFile(), "; mine\r\n[agent]\r\nremind=0\r\nStartUpRemind = 0\r\nOther=x\r\n"
                               "[Diary]\r\nTheme=2\r\n");
    Put(state->AgentSettings, {0, 3, 7, 0, 10});
    Open();
    Control<QCheckBox>("chkStartUp").click();
    Control<QCheckBox>("chkRemind").click();
    Control<QPushButton>("cmdOK").click();
    EXPECT_EQ(ReadBytes(SettingsFile()),
              "; mine\r\n[agent]\r\nremind=1\r\nStartUpRemind=1\r\nOther=x\r\n"
              "AnniversaryStartUp=3\r\nAppointmentStartUp=7\r\nAppointmentRemind=10\r\n"
              "[Diary]\r\nTheme=2\r\n");
    EXPECT_EQ(state->AgentSettings.StartUpRemind, 1);
    EXPECT_EQ(state->AgentSettings.Remind, 1);
}

TEST_F(OptionsDialog, AGreyedBoxIsWrittenAsTwoUntilClicked) {
    Put(state->AgentSettings, {2, 3, 7, 2, 10});
    Open();
    Control<QCheckBox>("chkRemind").click(); // greyed -> checked, and plain on/off from now on
    Control<QPushButton>("cmdOK").click();
    EXPECT_EQ(ReadBytes(SettingsFile()),
              "[Agent]\r\nStartUpRemind=2\r\nAnniversaryStartUp=3\r\nAppointmentStartUp=7\r\n"
              "Remind=1\r\nAppointmentRemind=10\r\n");
    EXPECT_EQ(state->AgentSettings.StartUpRemind, 2);
    EXPECT_EQ(state->AgentSettings.Remind, 1);
}

TEST_F(OptionsDialog, ANumberThatDoesNotConvertChangesNothing) {
    struct Case {
        const char* box;
        QString text;
        const char* key;
    };
    const std::vector<Case> cases{
        {"txtAnniversaryStartUp", "", "AnniversaryStartUp"},
        {"txtAnniversaryStartUp", "12abc", "AnniversaryStartUp"},
        {"txtAppointmentStartUp", "32768", "AppointmentStartUp"},
        {"txtAppointmentStartUp", "&H10", "AppointmentStartUp"},
        {"txtAppointmentRemind", "-32769", "AppointmentRemind"},
        {"txtAppointmentRemind", "1e3", "AppointmentRemind"},
    };
    WriteBytes(SettingsFile(), "[Agent]\r\nRemind=1\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.box) + " = \"" + c.text.toStdString() + "\"");
        desktop.boxes.clear();
        Put(state->AgentSettings, {1, 3, 7, 1, 10});
        frmOption& dialog = Open();
        Control<QCheckBox>("chkStartUp").click();
        Type(c.box, c.text);
        Control<QPushButton>("cmdOK").click();

        ASSERT_EQ(desktop.boxes.size(), 1u);
        EXPECT_NE(desktop.boxes[0].text.find(c.key), std::string::npos) << desktop.boxes[0].text;
        EXPECT_NE(desktop.boxes[0].text.find("-32768 to 32767"), std::string::npos);
        EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
        EXPECT_EQ(dialog.focusWidget(), &Control<QLineEdit>(c.box));
        EXPECT_EQ(ReadBytes(SettingsFile()), "[Agent]\r\nRemind=1\r\n");
        EXPECT_EQ(state->AgentSettings.StartUpRemind, 1);
        EXPECT_EQ(state->AgentSettings.AnniversaryStartUp, 3);
        EXPECT_TRUE(registry.IsLoaded(WindowName::frmOption)); // the user can correct it
        Control<QPushButton>("cmdCancel").click();
        DeleteClosedWindows();
    }
}

TEST_F(OptionsDialog, CancelCloseBoxEnterAndEscapeChangeNothing) {
    WriteBytes(SettingsFile(), "[Agent]\r\nAnniversaryStartUp=3\r\n");
    Put(state->AgentSettings, {1, 3, 7, 1, 10});
    for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE(way);
        frmOption& dialog = Open();
        Type("txtAnniversaryStartUp", "99");
        switch (way) {
        case 0:
            Control<QPushButton>("cmdCancel").click();
            break;
        case 1:
            dialog.close();
            break;
        case 2:
            QTest::keyClick(&Control<QLineEdit>("txtAnniversaryStartUp"), Qt::Key_Return);
            QTest::keyClick(&Control<QPushButton>("cmdOK"), Qt::Key_Enter);
            break;
        case 3:
            QTest::keyClick(&dialog, Qt::Key_Escape);
            break;
        }
        EXPECT_EQ(registry.IsLoaded(WindowName::frmOption), way >= 2);
        EXPECT_EQ(state->AgentSettings.AnniversaryStartUp, 3);
        EXPECT_EQ(ReadBytes(SettingsFile()), "[Agent]\r\nAnniversaryStartUp=3\r\n");
        if (way >= 2)
            dialog.close();
        DeleteClosedWindows();
        // Reopened, it shows the settings in force, not the discarded typing.
        Open();
        EXPECT_EQ(Control<QLineEdit>("txtAnniversaryStartUp").text(), "3");
        Control<QPushButton>("cmdCancel").click();
        DeleteClosedWindows();
    }
}

TEST_F(OptionsDialog, ShowingItAgainKeepsWhatWasTyped) {
    Put(state->AgentSettings, {1, 3, 7, 1, 10});
    frmOption& first = Open();
    Type("txtAppointmentRemind", "25");
    EXPECT_EQ(&Open(), &first);
    EXPECT_EQ(Control<QLineEdit>("txtAppointmentRemind").text(), "25");
}

TEST_F(OptionsDialog, AFailedWriteIsToldAndTheNewValuesStillApply) {
    // A folder that does not exist stands for any write that fails (read-only, disk full).
    auto missing = folder.Path() / "gone";
    auto lost = MakeState(missing);
    WindowRegistry windows(*lost, desktop, clock, links);
    Put(lost->AgentSettings, {0, 3, 7, 0, 10});
    windows.Show(WindowName::frmOption, ShowMode::Modeless);
    auto* dialog = windows.Window(WindowName::frmOption);
    dialog->findChild<QLineEdit*>("txtAppointmentRemind")->setText("15");
    testing::LogCapture log;
    dialog->findChild<QPushButton*>("cmdOK")->click();

    EXPECT_EQ(log.lines,
              std::vector<std::string>{"zurodid-agent: saving the settings: error " +
                                       std::to_string(ENOENT) + ": " + std::strerror(ENOENT) +
                                       ": " + (missing / "Zurodid.ini").string()})
        << "one line for the failed save, not one per key";
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_NE(desktop.boxes[0].text.find((missing / "Zurodid.ini").string()), std::string::npos)
        << desktop.boxes[0].text;
    EXPECT_EQ(desktop.boxes[0].title, "Zurodid Agent");
    EXPECT_EQ(lost->AgentSettings.AppointmentRemind, 15);
    EXPECT_FALSE(windows.IsLoaded(WindowName::frmOption));
    EXPECT_FALSE(std::filesystem::exists(missing));
    DeleteClosedWindows();
}

TEST_F(OptionsDialog, ASettingsFileBeyondTheBoundIsToldAndLeftWhole) {
    // What lies beyond the bound was never read: a rewrite from what was read would lose it.
    std::string big = "[Agent]\r\nRemind=0\r\n";
    big.resize(1024 * 1024 + 1, '\n');
    WriteBytes(SettingsFile(), big);
    Put(state->AgentSettings, {0, 3, 7, 0, 10});
    Open();
    Type("txtAppointmentRemind", "15");
    testing::LogCapture log;
    Control<QPushButton>("cmdOK").click();

    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_NE(desktop.boxes[0].text.find("could not be saved"), std::string::npos)
        << desktop.boxes[0].text;
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(ReadBytes(SettingsFile()) == big) << "the file is left as it was";
    EXPECT_EQ(state->AgentSettings.AppointmentRemind, 15) << "the new values still apply";
    DeleteClosedWindows();
}

TEST_F(OptionsDialog, OkRefillsTheListWindowWithTheNewRanges) {
    state->DiaryStore.rsAnniversary =
        std::make_shared<FakeRecordset>(std::vector<FakeRow>{{At(1990, 12, 9), "in two days"}});
    state->DiaryStore.rsAppointment =
        std::make_shared<FakeRecordset>(std::vector<FakeRow>{{At(2026, 12, 8, 9, 0), "tomorrow"}});
    Put(state->AgentSettings, {1, 0, 0, 1, 10});

    // Not loaded: it is loaded hidden for the fill and stays hidden.
    Open();
    Type("txtAnniversaryStartUp", "2");
    Control<QPushButton>("cmdOK").click();
    ASSERT_TRUE(registry.IsLoaded(WindowName::frmList));
    EXPECT_FALSE(registry.Window(WindowName::frmList)->isVisible());
    EXPECT_EQ(registry.List().lvAnniversary.ListItems.Count(), 1);
    EXPECT_EQ(registry.List().lvAppointment.ListItems.Count(), 0);

    // Open: refilled at once.
    registry.Show(WindowName::frmList, ShowMode::Modeless);
    Open();
    Type("txtAppointmentStartUp", "1");
    Control<QPushButton>("cmdOK").click();
    EXPECT_TRUE(registry.Window(WindowName::frmList)->isVisible());
    EXPECT_EQ(registry.List().lvAppointment.ListItems.Count(), 1);
}

} // namespace
} // namespace zurodid::test
