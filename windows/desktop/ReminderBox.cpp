#include "windows/desktop/ReminderBox.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace zurodid {
namespace {

bool IsKeyEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::Shortcut ||
           type == QEvent::ShortcutOverride;
}

#if QT_CONFIG(xcb)
// ICCCM's urgency hint (WM_HINTS flag XUrgencyHint): Qt sets only the EWMH demands-attention
// state, and some panels and window managers look at the hint alone.
void SetUrgencyHint(QWidget& box, bool urgent) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !box.windowHandle())
        return;
    const auto window = static_cast<xcb_window_t>(box.winId());
    constexpr std::uint32_t kUrgencyHint = 1u << 8;
    constexpr std::uint32_t kHintsLength =
        9; // flags, input, state, pixmap, window, x, y, mask, group
    std::uint32_t hints[kHintsLength] = {};
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, window, XCB_ATOM_WM_HINTS,
                                                XCB_ATOM_WM_HINTS, 0, kHintsLength),
                               nullptr),
        &std::free);
    if (reply && reply->format == 32) {
        const int length = std::min<int>(xcb_get_property_value_length(reply.get()) / 4,
                                         static_cast<int>(kHintsLength));
        const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        std::copy_n(value, length, hints);
    }
    hints[0] = urgent ? hints[0] | kUrgencyHint : hints[0] & ~kUrgencyHint;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHintsLength, hints);
    xcb_flush(connection);
}
#endif

void AskNow(QWidget& box) {
    if (!box.isVisible() || box.isActiveWindow())
        return;
    // _NET_WM_STATE_DEMANDS_ATTENTION on X11, an activation request on Wayland (a compositor
    // that does not give the focus marks the window urgent); Qt takes it back on activation.
    QApplication::alert(&box, 0);
#if QT_CONFIG(xcb)
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        SetUrgencyHint(box, true);
#endif
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && box.windowHandle())
        box.windowHandle()->requestActivate();
}

// Asks while the box is not the active window: when it comes without the focus, and each time
// the person clicks back into another window before closing it.
class AttentionWhileInactive final : public QObject {
public:
    explicit AttentionWhileInactive(QWidget& box) : QObject(&box), box_(box) {
        box.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &box_)
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::WindowDeactivate:
            // Once the window system has settled who has the focus.
            QTimer::singleShot(0, &box_, [box = &box_] { AskNow(*box); });
            break;
        case QEvent::WindowActivate:
#if QT_CONFIG(xcb)
            if (QGuiApplication::platformName() == QLatin1String("xcb"))
                SetUrgencyHint(box_, false);
#endif
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget& box_;
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

void PrepareToBeSeen(QWidget& box) {
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                       Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::WindowStaysOnTopHint);
    // The keyboard stays with the window the person is typing in (X11: user time 0, which
    // window managers take as "do not focus").
    box.setAttribute(Qt::WA_ShowWithoutActivating);
    // The platform reads it from the native window, which takes the attribute only when it is
    // made by a show; a box's window may have been made before.
    box.winId();
    box.windowHandle()->setProperty("_q_showWithoutActivating", true);
    // Left unplaced: a parentless dialog is centred on the screen that holds the pointer.
}

void AskForAttention(QWidget& box) {
    new AttentionWhileInactive(box);
}

} // namespace zurodid
