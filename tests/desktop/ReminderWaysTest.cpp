// A reminder shown through the desktop's notification service: what the service is asked,
// how the person acknowledges it, the tray's attention meanwhile, and the bounded fallbacks.
#include "StandInServices.h"
#include "windows/desktop/QtDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <sstream>

namespace zurodid::testing {
namespace {

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Runs `step` every 20 ms inside whatever event loop runs (the reminder's own), until it
// says it is done.
class Script : public QObject {
public:
    explicit Script(std::function<bool()> step) : step_(std::move(step)) {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (step_())
                timer_.stop();
        });
        timer_.start();
    }

private:
    std::function<bool()> step_;
    QTimer timer_;
};

QIcon Picture() {
    QPixmap picture(32, 32);
    picture.fill(Qt::darkBlue);
    return QIcon(picture);
}

// The log's lines about notifications (the offscreen platform and the sound have their say).
std::string NoticeLines(const std::string& said) {
    std::string lines;
    std::istringstream in(said);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("zurodid-agent: showing a reminder as a notification", 0) == 0)
            lines += line + "\n";
    return lines;
}

enum class Act { ClickNotification, ClickIcon, Dismiss };

struct Seen {
    bool boxBeforeActing = false, attentionWhileWaiting = false, boxAfterActing = false;
};

// Shows one reminder and acts as the person does once the notification is up.
Seen RemindAndAct(QtDesktop& desktop, StandInNotifications& service, Act act) {
    Seen seen;
    int phase = 0;
    QElapsedTimer boxOpen;
    Script person([&] {
        if (phase == 0) {
            if (service.Shown().empty())
                return false;
            seen.boxBeforeActing = OpenBox() != nullptr;
            seen.attentionWhileWaiting = desktop.TrayAsksForAttention();
            const uint id = service.Shown().back().id;
            if (act == Act::ClickNotification)
                service.Click(id);
            else if (act == Act::Dismiss)
                service.Dismiss(id);
            else
                desktop.OnActivated(QSystemTrayIcon::Trigger);
            phase = act == Act::Dismiss ? 2 : 1;
            return phase == 2;
        }
        QMessageBox* box = OpenBox();
        if (!box)
            return false;
        seen.boxAfterActing = true;
        box->button(QMessageBox::Ok)->click();
        return true;
    });
    desktop.Remind("09:05 : A < B & C", vbCritical, "Zurodid Agent");
    return seen;
}

class ReminderWaysTest : public ::testing::Test {
protected:
    ReminderWaysTest() : desktop(Picture()) { desktop.SetKeySettle(std::chrono::milliseconds{0}); }
    QtDesktop desktop;
};

TEST_F(ReminderWaysTest, AReminderWaitsInItsNotificationUntilThePersonActsOnIt) {
    struct Case {
        const char* name;
        ReminderWay way;
        Act act;
        bool boxBefore, boxAfter, withdrawn;
    };
    const Case cases[] = {
        {"Wayland: the notification's action opens the box", ReminderWay::Notice,
         Act::ClickNotification, false, true, true},
        {"Wayland: a click on the icon opens the box", ReminderWay::Notice, Act::ClickIcon, false,
         true, true},
        {"Wayland: dismissed, no box", ReminderWay::Notice, Act::Dismiss, false, false, false},
        {"X11 over a fullscreen window: the box is there already", ReminderWay::BoxAndNotice,
         Act::ClickNotification, true, true, true},
        {"X11 over a fullscreen window: dismissing closes the box", ReminderWay::BoxAndNotice,
         Act::Dismiss, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInNotifications service;
        desktop.SetWayToRemind(c.way);
        ::testing::internal::CaptureStderr();
        const Seen seen = RemindAndAct(desktop, service, c.act);
        EXPECT_EQ(NoticeLines(::testing::internal::GetCapturedStderr()), "");
        EXPECT_EQ(seen.boxBeforeActing, c.boxBefore);
        EXPECT_EQ(seen.boxAfterActing, c.boxAfter);
        EXPECT_TRUE(seen.attentionWhileWaiting);
        EXPECT_FALSE(desktop.TrayAsksForAttention()) << "acknowledged, still asking";
        EXPECT_EQ(OpenBox(), nullptr);

        const auto shown = service.Shown();
        ASSERT_EQ(shown.size(), 1u);
        const auto& notice = shown[0];
        EXPECT_EQ(notice.appName, "Zurodid Agent");
        EXPECT_EQ(notice.summary, "Zurodid Agent");
        EXPECT_EQ(notice.body, "09:05 : A &lt; B &amp; C") << "the service reads markup";
        EXPECT_TRUE(notice.actions.contains("default"));
        EXPECT_EQ(notice.hints.value("urgency").toInt(), 2);
        EXPECT_TRUE(notice.hints.value("resident").toBool());
        EXPECT_TRUE(notice.hints.contains("image-data"));
        EXPECT_EQ(notice.expireTimeout, 0);
        // Opened: taken back from the desktop's list; dismissed: the person took it away.
        Spin([&] { return !service.Closed().empty(); }, c.withdrawn ? 2000 : 200);
        EXPECT_EQ(service.Closed(),
                  c.withdrawn ? std::vector<uint>{notice.id} : std::vector<uint>{});
    }
}

TEST(ReminderWays, WithoutAServiceThatAnswersTheBoxComesAndTheLogSaysItOnce) {
    struct Case {
        const char* name;
        bool serviceRuns;
        const char* line;
    };
    const Case cases[] = {
        {"no service", false,
         "zurodid-agent: showing a reminder as a notification: no notification service answers "
         "(The name org.freedesktop.Notifications was not provided by any .service files); it "
         "comes in a box\n"},
        {"a service that never answers", true,
         "zurodid-agent: showing a reminder as a notification: the desktop's notification "
         "service did not answer within 0.3 s; it comes in a box\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtDesktop desktop(Picture());
        desktop.SetKeySettle(std::chrono::milliseconds{0});
        desktop.SetWayToRemind(ReminderWay::Notice);
        desktop.SetNoticeAnswerWithin(std::chrono::milliseconds{300});
        std::optional<StandInNotifications> silent;
        if (c.serviceRuns)
            silent.emplace(/*answers=*/false);
        ::testing::internal::CaptureStderr();
        for (int reminder = 0; reminder < 2; ++reminder) {
            QElapsedTimer waited;
            waited.start();
            qint64 boxAfterMs = -1;
            Script person([&] {
                QMessageBox* box = OpenBox();
                if (!box)
                    return false;
                boxAfterMs = waited.elapsed();
                box->button(QMessageBox::Ok)->click();
                return true;
            });
            desktop.Remind("09:05 : Dentist", vbCritical, "Zurodid Agent");
            EXPECT_GE(boxAfterMs, 0) << "no box";
            EXPECT_LT(boxAfterMs, 2000) << "the box waited past the bound";
        }
        EXPECT_EQ(NoticeLines(::testing::internal::GetCapturedStderr()), c.line);
    }
}

} // namespace
} // namespace zurodid::testing
