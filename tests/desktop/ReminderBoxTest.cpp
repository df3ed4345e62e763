// A reminder box against keys meant for another window, its sound without a sound server, and
// a second start of the agent.
#include "agent/AgentFixture.h"
#include "support/LogCapture.h"
#include "windows/desktop/EventSound.h"
#include "windows/desktop/QtDesktop.h"
#include "windows/desktop/SingleInstance.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace zurodid::testing {
namespace {

using namespace std::chrono_literals;

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

bool Spin(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// What reaches the box: a key on its focused button, as typing does, or a click on OK.
void Press(QMessageBox& box, int key) {
    QAbstractButton* ok = box.button(QMessageBox::Ok);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(ok, &press);
    QApplication::sendEvent(ok, &release);
}

void Click(QMessageBox& box) {
    QAbstractButton* ok = box.button(QMessageBox::Ok);
    const QPointF centre = QRectF(ok->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, ok->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, ok->mapToGlobal(centre), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(ok, &press);
    QApplication::sendEvent(ok, &release);
}

constexpr int kClick = 0;

TEST(ReminderBoxKeys, OnlyAClickOrAKeyOnASettledBoxClosesIt) {
    // Settling takes 500 ms here; keys 100 ms apart never let it settle.
    struct Step {
        int afterMs; // since the step before (the first: since the box came)
        int key;     // kClick for a click on OK
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int closedBy; // the step that closes the box, -1 for none
    };
    const std::vector<Case> cases{
        {"Enter, Space and Escape as the box comes",
         {{0, Qt::Key_Return}, {0, Qt::Key_Space}, {0, Qt::Key_Escape}},
         -1},
        {"typing on and on, Enter among the letters",
         {{0, Qt::Key_A},
          {100, Qt::Key_Return},
          {100, Qt::Key_B},
          {100, Qt::Key_Space},
          {100, Qt::Key_Return},
          {100, Qt::Key_Return},
          {100, Qt::Key_Enter}},
         -1},
        {"Enter once the box is settled", {{800, Qt::Key_Return}}, 0},
        {"Escape once the box is settled", {{800, Qt::Key_Escape}}, 0},
        {"a key, then quiet, then Enter", {{0, Qt::Key_X}, {800, Qt::Key_Return}}, 1},
        {"a click as the box comes", {{0, kClick}}, 0},
        {"a click while keys keep coming", {{0, Qt::Key_A}, {50, Qt::Key_B}, {50, kClick}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtDesktop desktop{QIcon()};
        desktop.SetKeySettle(500ms);
        int closedBy = -1;
        std::size_t next = 0;
        QTimer script;
        QElapsedTimer sinceLast;
        QObject::connect(&script, &QTimer::timeout, [&] {
            QMessageBox* box = OpenBox();
            if (!box) {
                script.stop();
                return;
            }
            if (!sinceLast.isValid())
                sinceLast.start(); // the box has come
            if (next == c.steps.size()) {
                // Everything sent and the box still open: close it for the next case.
                if (sinceLast.elapsed() > 200) {
                    script.stop();
                    box->done(QMessageBox::Ok);
                }
                return;
            }
            if (sinceLast.elapsed() < c.steps[next].afterMs)
                return;
            if (c.steps[next].key == kClick)
                Click(*box);
            else
                Press(*box, c.steps[next].key);
            sinceLast.start();
            if (!OpenBox() || !OpenBox()->isVisible())
                closedBy = static_cast<int>(next);
            ++next;
        });
        script.start(5);
        desktop.MsgBox("09:05 : Dentist", vbCritical, "Zurodid Agent");
        EXPECT_EQ(closedBy, c.closedBy);
    }
}

TEST(ReminderBoxSound, WithoutASoundServerTheLogSaysWhyOnce) {
    // No server at that address, and no other way out for the sound.
    qputenv("CANBERRA_DRIVER", "pulse");
    qputenv("PULSE_SERVER", "unix:/nonexistent/zurodid-test/native");
    LogCapture log;
    {
        EventSound sound;
        for (const char* event : {"dialog-error", "dialog-information", "dialog-error"})
            sound.Play(event);
        ASSERT_TRUE(Spin([&] { return !log.lines.empty(); })) << "nothing said";
        Spin([] { return false; }, 300); // the later failures are answered too
    }
    qunsetenv("CANBERRA_DRIVER");
    qunsetenv("PULSE_SERVER");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("zurodid-agent: playing the reminder box's sound, the boxes come "
                                 "without it: error ",
                                 0),
              0u)
        << log.lines[0];
}

TEST(SecondStart, AsksTheFirstAgentOfTheSameFolderToShowItsList) {
    TempFolder runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path().string()));
    TempFolder one, other;
    std::filesystem::permissions(runtime.Path(), std::filesystem::perms::owner_all);
    SingleInstance first(QString::fromStdString(one.Path().string()));
    SingleInstance second(QString::fromStdString(one.Path().string()));
    SingleInstance elsewhere(QString::fromStdString(other.Path().string()));
    EXPECT_TRUE(first.IsFirst());
    EXPECT_FALSE(second.IsFirst());
    EXPECT_TRUE(elsewhere.IsFirst()) << "an agent of another folder is not a second start";

    int shown = 0;
    first.Listen([&shown] { ++shown; });
    // The second start waits for the answer; the first answers from its event loop.
    std::atomic<int> answered{-1};
    std::thread ask([&] { answered = second.AskTheFirstToShow() ? 1 : 0; });
    Spin([&] { return answered != -1 && shown > 0; }, 15000);
    ask.join();
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(shown, 1);
}

} // namespace
} // namespace zurodid::testing
