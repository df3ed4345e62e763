#include "windows/desktop/ReminderBox.h"

#include "windows/desktop/X11.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace zurodid {
namespace {

constexpr int kMappedWithinMs = 500;

bool IsKeyEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::Shortcut ||
           type == QEvent::ShortcutOverride;
}

void AskAgain(QWidget& box) {
    if (!box.isVisible())
        return;
    // _NET_WM_STATE_DEMANDS_ATTENTION on X11 (the window manager takes it back when the box
    // gets the focus), an activation request on Wayland (a compositor that does not give the
    // focus marks the window urgent).
    QApplication::alert(&box, 0);
    x11::SetUrgencyHint(box);
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && box.windowHandle())
        box.windowHandle()->requestActivate();
}

// The box asks again each time the person goes back to another window before closing it, and
// on Wayland when it comes. The urgency hint stays until the box is closed: Qt may count a
// modal box active that never got the keyboard, so activation says nothing about being seen.
class AskWhenLeft final : public QObject {
public:
    explicit AskWhenLeft(QWidget& box) : QObject(&box), box_(box) { box.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &box_)
            return false;
        const QString platform = QGuiApplication::platformName();
        if (event->type() == QEvent::WindowDeactivate ||
            (event->type() == QEvent::Show && platform.startsWith(QLatin1String("wayland"))))
            // Once the window system has settled who has the focus.
            QTimer::singleShot(0, &box_, [box = &box_] { AskAgain(*box); });
        if (event->type() == QEvent::Show && platform == QLatin1String("xcb"))
            // Once the window manager has taken the window in.
            QTimer::singleShot(kMappedWithinMs, &box_,
                               [box = &box_] { x11::DemandAttentionOfMappedWindow(*box); });
        return false;
    }

private:
    QWidget& box_;
};

// Starts a timer when the box is shown.
class StartOnShow final : public QObject {
public:
    StartOnShow(QWidget& box, QTimer& timer) : QObject(&box), box_(box), timer_(timer) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &box_ && event->type() == QEvent::Show)
            timer_.start();
        return false;
    }

private:
    QWidget& box_;
    QTimer& timer_;
};

} // namespace

KeyGuard::KeyGuard(QWidget& box, std::chrono::milliseconds settle) : box_(box), settle_(settle) {
    // On the application: a key reaches the box's focused button, not the box.
    qApp->installEventFilter(this);
}

KeyGuard::~KeyGuard() {
    qApp->removeEventFilter(this);
}

bool KeyGuard::Settled() const {
    return quiet_.isValid() && quiet_.elapsed() >= settle_.count();
}

bool KeyGuard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &box_ && event->type() == QEvent::Show)
        quiet_.start();
    if (!IsKeyEvent(event->type()))
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &box_ || Settled())
        return false;
    if (event->type() == QEvent::KeyPress)
        quiet_.start();
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed, so that no shortcut (the button's mnemonic) acts on it; the key press that
        // follows is dropped here.
        event->accept();
        return true;
    }
    return true;
}

void PrepareToBeSeen(QWidget& box, std::chrono::milliseconds settle) {
    // On X11 Qt asks the window manager to activate every modal window it maps, and user time
    // 0 alone does not stop that; refusing the focus (the ICCCM input hint) does, so the keys
    // go on reaching the window the person is typing in. A Wayland compositor decides the focus
    // itself, and there the flag would only hold back the box's activation request.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                       Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::WindowStaysOnTopHint |
                       (x11 ? Qt::WindowDoesNotAcceptFocus : Qt::WindowFlags()));
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    // The platform reads it from the native window, which takes the attribute only when it is
    // made by a show; a box's window may have been made before.
    box.winId();
    box.windowHandle()->setProperty("_q_showWithoutActivating", true);
    if (!x11)
        return;
    // Once the box has settled, it takes the focus when the person clicks it (then Enter or
    // Escape close it). Changed on the native window: changing the widget's flags would hide
    // the box.
    auto* accept = new QTimer(&box);
    accept->setSingleShot(true);
    accept->setInterval(settle);
    QObject::connect(accept, &QTimer::timeout, &box, [&box] {
        if (QWindow* window = box.windowHandle())
            window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    });
    box.installEventFilter(new StartOnShow(box, *accept));
}

void AskForAttention(QWidget& box) {
    x11::MarkUrgentBeforeMapping(box);
    new AskWhenLeft(box);
}

} // namespace zurodid
