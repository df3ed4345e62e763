#include "windows/desktop/ReminderBox.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <string_view>
#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace zurodid {
namespace {

constexpr int kMappedWithinMs = 500;

bool IsKeyEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::Shortcut ||
           type == QEvent::ShortcutOverride;
}

#if QT_CONFIG(xcb)
xcb_atom_t Atom(xcb_connection_t* connection, std::string_view name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr),
        &std::free);
    return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// ICCCM's urgency hint (WM_HINTS flag XUrgencyHint): Qt sets only the EWMH demands-attention
// state, and some panels and window managers look at the hint alone.
void SetUrgencyHint(QWidget& box) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !box.windowHandle())
        return;
    const auto window = static_cast<xcb_window_t>(box.winId());
    constexpr std::uint32_t kUrgencyHint = 1u << 8;
    // flags, input, state, pixmap, window, x, y, mask, group
    constexpr std::uint32_t kHintsLength = 9;
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
    hints[0] |= kUrgencyHint;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHintsLength, hints);
    xcb_flush(connection);
}

// Marks the box's window before it is mapped, so that the window manager sees it asking as
// it takes the window in: the urgency hint, and _NET_WM_STATE_DEMANDS_ATTENTION (which Qt
// merges with its own states when it maps the window).
void MarkUrgentBeforeMapping(QWidget& box) {
    SetUrgencyHint(box);
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
    const xcb_atom_t demands = Atom(connection, "_NET_WM_STATE_DEMANDS_ATTENTION");
    if (state == XCB_ATOM_NONE || demands == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(box.winId()),
                        state, XCB_ATOM_ATOM, 32, 1, &demands);
    xcb_flush(connection);
}

// The same state asked for on a mapped window, as a client message to the window manager: a
// window manager may drop the state it finds on a window it takes in (xfwm4 does).
void DemandAttentionOfMappedWindow(QWidget& box) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !box.isVisible())
        return;
    const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
    const xcb_atom_t demands = Atom(connection, "_NET_WM_STATE_DEMANDS_ATTENTION");
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (state == XCB_ATOM_NONE || demands == XCB_ATOM_NONE || !screen)
        return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(box.winId());
    message.type = state;
    message.data.data32[0] = 1; // add
    message.data.data32[1] = demands;
    message.data.data32[3] = 1; // asked by an application
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}
#endif

void AskAgain(QWidget& box) {
    if (!box.isVisible())
        return;
    // _NET_WM_STATE_DEMANDS_ATTENTION on X11 (the window manager takes it back when the box
    // gets the focus), an activation request on Wayland (a compositor that does not give the
    // focus marks the window urgent).
    QApplication::alert(&box, 0);
#if QT_CONFIG(xcb)
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        SetUrgencyHint(box);
#endif
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
#if QT_CONFIG(xcb)
        if (event->type() == QEvent::Show && platform == QLatin1String("xcb"))
            // Once the window manager has taken the window in.
            QTimer::singleShot(kMappedWithinMs, &box_,
                               [box = &box_] { DemandAttentionOfMappedWindow(*box); });
#endif
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
#if QT_CONFIG(xcb)
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        MarkUrgentBeforeMapping(box);
#endif
    new AskWhenLeft(box);
}

} // namespace zurodid
