// A reminder box against keys meant for another window. Its sound, the second start and what
// the window manager is told are tested on a real desktop (tests/e2e).
#include "windows/desktop/QtDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace zurodid::testing {
namespace {

using namespace std::chrono_literals;

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
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

// A box that draws its own title has no frame, keeps its widgets clear of the strip, and the
// strip's close closes it as a frame's close does; typed keys never reach that button.
TEST(ReminderBoxTitle, TheOwnTitlesCloseClosesTheBoxAndTakesNoKeys) {
    QtDesktop desktop{QIcon()};
    desktop.SetBoxTitle(BoxTitle::Own);
    QTimer::singleShot(100, [] {
        QMessageBox* box = OpenBox();
        auto* close = box ? box->findChild<QToolButton*>() : nullptr;
        if (!close) {
            ADD_FAILURE() << "no box, or no close button of its own";
            if (box)
                box->done(QMessageBox::Ok);
            return;
        }
        EXPECT_TRUE(box->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_EQ(close->focusPolicy(), Qt::NoFocus);
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child != close->parentWidget() && child->isVisible()) {
                EXPECT_GT(child->y(), close->parentWidget()->geometry().bottom())
                    << child->metaObject()->className();
            }
        }
        close->click();
    });
    desktop.MsgBox("09:05 : Dentist", vbCritical, "Zurodid Agent");
    EXPECT_EQ(OpenBox(), nullptr);
}

} // namespace
} // namespace zurodid::testing
