#include "windows/desktop/QtDesktop.h"

#include "StandInServices.h"
#include "agent/AgentFixture.h"
#include "windows/desktop/TrayHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>

namespace zurodid::testing {
namespace {

std::vector<QMessageBox*> OpenBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes.push_back(box);
    return boxes;
}

class QtDesktopTest : public ::testing::Test {
protected:
    QtDesktopTest()
        : state([this] { return folder.Path(); }, std::make_shared<FakeEngine>(diary)),
          desktop(QIcon()), agent(state, desktop, clock) {
        desktop.Attach(
            agent, [this](WindowName window, ShowMode mode) { shown.emplace_back(window, mode); });
    }

    TempFolder folder;
    FakeDiary diary;
    FakeClock clock;
    ProcessState state;
    QtDesktop desktop;
    frmAgent agent;
    std::vector<std::pair<WindowName, ShowMode>> shown;
};

TEST_F(QtDesktopTest, TicksWhileAReminderBoxIsOpenRaiseNoSecondBox) {
    ListItem& row = agent.lvAppointment.ListItems.Add("001");
    row.SetSubItems(1, "07/12/2026");
    row.SetSubItems(2, "09:05");
    row.SetSubItems(3, "Dentist");
    clock.now = At(2026, 12, 7, 9, 5, 0);
    frmAgentTestAccess::RowsFilledAt(agent, clock.now);
    desktop.Timer1().setInterval(50); // many ticks while the box is open

    // The box runs its own event loop: watch it from a timer that runs inside that loop.
    std::size_t mostOpen = 0;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QElapsedTimer openFor;
    QTimer observer;
    observer.setInterval(20);
    QObject::connect(&observer, &QTimer::timeout, [&] {
        auto boxes = OpenBoxes();
        mostOpen = std::max(mostOpen, boxes.size());
        if (boxes.empty())
            return;
        if (!openFor.isValid()) {
            openFor.start();
            title = boxes[0]->windowTitle();
            text = boxes[0]->text();
            icon = boxes[0]->icon();
        } else if (openFor.elapsed() > 600) {
            boxes[0]->button(QMessageBox::Ok)->click();
        }
    });
    observer.start();
    desktop.EnableTimer();

    ASSERT_TRUE(Spin([&] { return openFor.isValid() && OpenBoxes().empty(); }))
        << "no box, or never closed";
    Spin([] { return false; }, 300);
    desktop.Timer1().stop();
    observer.stop();
    EXPECT_EQ(mostOpen, 1u);
    EXPECT_EQ(title, "Zurodid Agent");
    EXPECT_EQ(text, "09:05 : Dentist");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(OpenBoxes().empty());
}

TEST_F(QtDesktopTest, BoxTextsThatLookLikeMarkupAreShownAsTheyStand) {
    const std::string texts[] = {"09:05 : <b>card</b>", "09:05 : A &lt; B", "<p>x</p>\n<i>y"};
    for (const std::string& text : texts) {
        QString format = "no box";
        QString labelText;
        QTimer::singleShot(0, [&] {
            auto boxes = OpenBoxes();
            if (boxes.empty())
                return;
            // What draws the text: the box's label.
            auto* label = boxes[0]->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (label) {
                format = label->textFormat() == Qt::PlainText ? "plain" : "may be rich";
                labelText = label->text();
            }
            boxes[0]->button(QMessageBox::Ok)->click();
        });
        desktop.MsgBox(text, vbCritical, "Zurodid Agent");
        EXPECT_EQ(format, "plain") << text;
        EXPECT_EQ(labelText.toStdString(), text);
    }
}

// A style (as on KDE and plain X) that gives dialog buttons pictures.
class ButtonsWithPictures : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

TEST_F(QtDesktopTest, TheOkButtonOfABoxHasNoPictureEvenWhereTheStyleGivesOne) {
    // Such a picture is loaded afresh for every box and its drawn copy stays in Qt's pixmap
    // cache: the resident agent grew with every reminder.
    const QString previousStyle = QApplication::style()->name();
    QApplication::setStyle(new ButtonsWithPictures);
    QString picture = "no box";
    QTimer::singleShot(0, [&] {
        auto boxes = OpenBoxes();
        if (boxes.empty())
            return;
        picture = boxes[0]->button(QMessageBox::Ok)->icon().isNull() ? "none" : "a picture";
        boxes[0]->button(QMessageBox::Ok)->click();
    });
    desktop.MsgBox("09:05 : Dentist", vbInformation, "Zurodid Agent");
    QApplication::setStyle(previousStyle);
    EXPECT_EQ(picture, "none");
}

TEST_F(QtDesktopTest, ExitEndsTheProcessWithoutRunningAnotherHandler) {
    // Exit chosen, then a tick falls due and an event is posted: neither may run once Exit
    // runs, or a reminder box would open in the middle of Exit and hold it up.
    const auto ran = folder / "a handler ran";
    auto mark = [ran] { WriteBytes(ran, "yes"); };
    EXPECT_EXIT(
        {
            desktop.Menu().actions()[7]->trigger(); // Exit, run once the menu has closed
            QObject::connect(&desktop.Timer1(), &QTimer::timeout, mark);
            desktop.Timer1().start(0);
            QTimer::singleShot(0, mark);
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST_F(QtDesktopTest, TheMenuHoldsTheEightItemsAndRoutesTheirIndexAfterItCloses) {
    QList<QAction*> actions = desktop.Menu().actions();
    ASSERT_EQ(actions.size(), 8);
    const char* captions[] = {"Show", "Refresh", "Options", "About", "", "Run Zurodid", "", "Exit"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(actions[i]->isSeparator(), captions[i][0] == '\0') << i;
        if (!actions[i]->isSeparator()) {
            EXPECT_EQ(actions[i]->text(), captions[i]) << i;
        }
    }
    actions[0]->trigger();
    actions[2]->trigger();
    // A chosen item runs once the menu (or the host's D-Bus call) is done with.
    EXPECT_TRUE(shown.empty());
    ASSERT_TRUE(Spin([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown, (std::vector<std::pair<WindowName, ShowMode>>{
                         {WindowName::frmList, ShowMode::Modeless},
                         {WindowName::frmOption, ShowMode::Modeless}}));
}

TEST_F(QtDesktopTest, TrayActivationsBecomeTheAgentsMessages) {
    EXPECT_DOUBLE_EQ(desktop.TwipsPerPixelX(), 15.0) << "96 dpi";
    for (auto reason :
         {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
        desktop.OnActivated(reason);
    EXPECT_TRUE(shown.empty());
    desktop.OnActivated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(shown, (std::vector<std::pair<WindowName, ShowMode>>{
                         {WindowName::frmList, ShowMode::Modeless}}));
    // A right click reaches the agent, but away from X11 no menu of the agent's own opens: it
    // would have no parent there and become a window of its own; the host shows the menu.
    desktop.OnActivated(QSystemTrayIcon::Context);
    EXPECT_FALSE(desktop.Menu().isVisible());
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(QtDesktopTest, WithoutANotificationAreaTheIconWaitsAndItIsSaidOnce) {
    if (TrayHostPresent())
        GTEST_SKIP() << "a notification area runs on this session";
    TrayIconRecordA record{};
    std::copy_n("Zurodid Agent", 13, record.szTip.begin());
    ::testing::internal::CaptureStderr();
    desktop.RegisterTrayIcon(record);
    desktop.RegisterTrayIcon(record); // a second registration keeps the one (waiting) icon
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(desktop.TrayIcon(), nullptr) << "offscreen has no tray";
    EXPECT_EQ(said, "Zurodid Agent: no notification area is running; the icon will appear "
                    "when one starts.\n");
}

TEST_F(QtDesktopTest, AnIconWaitingForAPanelAppearsWhenOneStartsAndNothingIsAskedMeanwhile) {
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus of the tests' own (dbus-daemon missing?)";
    ASSERT_FALSE(TrayHostPresent());
    TrayIconRecordA record{};
    std::copy_n("Zurodid Agent", 13, record.szTip.begin());
    struct Case {
        const char* name;
        bool watcherBeforeItsHost;
    };
    for (Case c :
         {Case{"a watcher up before its host", true}, Case{"a watcher up with its host", false}}) {
        SCOPED_TRACE(c.name);
        QPixmap picture(16, 16);
        picture.fill(Qt::darkBlue);
        QtDesktop waiting{QIcon(picture)};
        ::testing::internal::CaptureStderr();
        waiting.RegisterTrayIcon(record);
        {
            StandInWatcher panel;
            if (c.watcherBeforeItsHost) {
                panel.TakeTheName();
                // Asked once, when the name is taken; then nobody asks while nothing changes.
                EXPECT_TRUE(Spin([&] { return panel.TimesAsked() == 1; }));
                Spin([] { return false; }, 1500);
                EXPECT_EQ(panel.TimesAsked(), 1) << "the agent keeps asking";
                EXPECT_EQ(waiting.TrayIcon(), nullptr) << "an icon without a host";
                panel.RegisterTheHost();
            } else {
                panel.RegisterTheHost();
                panel.TakeTheName();
            }
            EXPECT_TRUE(Spin([&] { return waiting.TrayIcon() != nullptr; })) << "no icon";
        }
        // Qt has its say too, about the tray it finds offscreen.
        const QString said = QString::fromStdString(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(said.count("Zurodid Agent: no notification area is running; the icon will "
                             "appear when one starts.\n"),
                  1)
            << said.toStdString();
        // The panel gone, the icon stays: Qt follows a watcher that comes back.
        EXPECT_NE(waiting.TrayIcon(), nullptr);
    }
}

TEST_F(QtDesktopTest, StartingProgramsSaysWhyItFailed) {
    StartOutcome missing = desktop.StartProgram(folder / "Zurodid.exe", {});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, "the file does not exist");

    if (QStandardPaths::findExecutable("wine").isEmpty()) {
        WriteBytes(folder / "Zurodid.exe", "MZ");
        StartOutcome noWine = desktop.StartProgram(folder / "Zurodid.exe", {});
        EXPECT_FALSE(noWine.started);
        EXPECT_NE(noWine.error.find("wine"), std::string::npos) << noWine.error;
    }

    auto script = folder / "marker.sh";
    // Written aside and renamed: "ran" appears only with its whole text.
    std::ofstream(script) << "#!/bin/sh\nd=$(dirname \"$0\")\n"
                             "echo \"$1\" > \"$d/ran.new\" && mv \"$d/ran.new\" \"$d/ran\"\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    StartOutcome started = desktop.StartProgram(script, {"a b;c"});
    EXPECT_TRUE(started.started) << started.error;
    EXPECT_TRUE(Spin([&] { return std::filesystem::exists(folder / "ran"); }));
    EXPECT_EQ(ReadBytes(folder / "ran"), "a b;c\n") << "the argument passes whole, no shell";
}

TEST_F(QtDesktopTest, AWindowsProgramStartsMaximisedThroughWine) {
    // wine itself is not installed here: a stand-in on the PATH writes down how it was called.
    std::filesystem::create_directory(folder / "bin");
    auto wine = folder / "bin" / "wine";
    std::ofstream(wine) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$(dirname "
                           "\"$0\")/called.new\"\nmv \"$(dirname \"$0\")/called.new\" "
                           "\"$(dirname \"$0\")/called\"\n";
    std::filesystem::permissions(wine, std::filesystem::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString((folder / "bin").string()) + ":" + path);
    auto program = folder / "ไดอารี่ Zurodid" / "Zurodid.exe";
    std::filesystem::create_directory(program.parent_path());
    WriteBytes(program, "MZ");
    StartOutcome outcome = desktop.StartProgram(program, {});
    qputenv("PATH", path);
    EXPECT_TRUE(outcome.started) << outcome.error;
    ASSERT_TRUE(Spin([&] { return std::filesystem::exists(folder / "bin" / "called"); }));
    EXPECT_EQ(ReadBytes(folder / "bin" / "called"),
              "start\n/max\n/unix\n" + program.string() + "\n");
}

} // namespace
} // namespace zurodid::testing

int main(int argc, char** argv) {
    // Widget tests need no display; test discovery runs this without CTest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // A D-Bus session of the tests' own, up before anything connects to one: no tray of the
    // machine's session is seen, and a test can bring a panel's watcher up on it.
    QProcess bus;
    QTemporaryFile config;
    if (!GTEST_FLAG_GET(list_tests)) {
        // Without the machine's activatable services: no notification service or panel of
        // the machine starts on it.
        config.open();
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                     "<auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        bus.start("dbus-daemon",
                  {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                bus.waitForReadyRead(5000) ? bus.readLine().trimmed() : QByteArray());
    }
    const int result = RUN_ALL_TESTS();
    bus.terminate();
    bus.waitForFinished();
    return result;
}
