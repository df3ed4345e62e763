#include "windows/desktop/X11.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace zurodid::x11 {
namespace {

template <typename Reply> using XReply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_connection_t* Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Screen 0: the desktops we serve run one X screen per display.
xcb_window_t Root(xcb_connection_t* connection) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t{XCB_WINDOW_NONE};
}

xcb_atom_t AtomOf(xcb_connection_t* connection, std::string_view name) {
    XReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr),
        &std::free);
    return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The 32-bit items of a window's property, at most `most`.
std::vector<std::uint32_t> Property(xcb_connection_t* connection, xcb_window_t window,
                                    xcb_atom_t property, xcb_atom_t type, std::uint32_t most) {
    XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, property, type, 0, most), nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(value, value + std::max(length, 0));
}

xcb_window_t BoxWindow(QWidget& box) {
    return static_cast<xcb_window_t>(box.winId());
}

// A client message about `window` to the window manager, through the root window.
void SendToWindowManager(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data) {
    const xcb_window_t root = Root(connection);
    if (root == XCB_WINDOW_NONE)
        return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

// Names each window of the application after its desktop entry as the window is made, before
// it is mapped.
class DesktopEntryNamer final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(watched);
        if (window && event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceCreated)
            Name(static_cast<xcb_window_t>(window->winId()));
        return false;
    }

private:
    static void Name(xcb_window_t window) {
        xcb_connection_t* connection = Connection();
        const xcb_atom_t property = AtomOf(connection, "_KDE_NET_WM_DESKTOP_FILE");
        const xcb_atom_t utf8 = AtomOf(connection, "UTF8_STRING");
        if (property == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE)
            return;
        const QByteArray name = QGuiApplication::desktopFileName().toUtf8();
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, utf8, 8,
                            static_cast<std::uint32_t>(name.size()), name.constData());
    }
};

} // namespace

bool SelectionHasOwner(std::string_view selection) {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return false;
    const xcb_atom_t atom = AtomOf(connection, selection);
    if (atom == XCB_ATOM_NONE)
        return false;
    XReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom),
                                      nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

std::uint32_t Atom(std::string_view name) {
    xcb_connection_t* connection = Connection();
    return connection ? AtomOf(connection, name) : 0;
}

std::uint32_t WatchRootWindow() {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return 0;
    const xcb_window_t root = Root(connection);
    if (root == XCB_WINDOW_NONE)
        return 0;
    // Our connection's mask on the root window is Qt's too: add to it, never replace it.
    XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root),
                                        nullptr),
        &std::free);
    if (!attributes)
        return 0;
    if (!(attributes->your_event_mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY)) {
        const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
    }
    return root;
}

bool IsManagerMessage(const void* event, std::uint32_t root, std::uint32_t manager,
                      std::uint32_t selection) {
    const auto* generic = static_cast<const xcb_generic_event_t*>(event);
    if ((generic->response_type & ~0x80) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(event);
    return client->window == root && client->type == manager && client->format == 32 &&
           client->data.data32[1] == selection;
}

bool ActiveWindowIsFullscreen() {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return false;
    const xcb_atom_t active = AtomOf(connection, "_NET_ACTIVE_WINDOW");
    const xcb_atom_t state = AtomOf(connection, "_NET_WM_STATE");
    const xcb_atom_t fullscreen = AtomOf(connection, "_NET_WM_STATE_FULLSCREEN");
    if (active == XCB_ATOM_NONE || state == XCB_ATOM_NONE || fullscreen == XCB_ATOM_NONE)
        return false;
    const auto window = Property(connection, Root(connection), active, XCB_ATOM_WINDOW, 1);
    if (window.empty() || window.front() == XCB_WINDOW_NONE)
        return false;
    const auto states = Property(connection, window.front(), state, XCB_ATOM_ATOM, 64);
    return std::find(states.begin(), states.end(), fullscreen) != states.end();
}

bool FrameIgnoresMotifFunctions() {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return false;
    const xcb_atom_t check = AtomOf(connection, "_NET_SUPPORTING_WM_CHECK");
    const xcb_atom_t name = AtomOf(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = AtomOf(connection, "UTF8_STRING");
    if (check == XCB_ATOM_NONE || name == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE)
        return false;
    const auto manager = Property(connection, Root(connection), check, XCB_ATOM_WINDOW, 1);
    if (manager.empty() || manager.front() == XCB_WINDOW_NONE)
        return false;
    XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, manager.front(), name, utf8, 0, 16),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 8)
        return false;
    const std::string_view said(
        static_cast<const char*>(xcb_get_property_value(reply.get())),
        static_cast<std::size_t>(std::max(xcb_get_property_value_length(reply.get()), 0)));
    return said == "Openbox" || said == "KWin";
}

std::optional<QPoint> ScreenPosition(QWidget& box) {
    xcb_connection_t* connection = Connection();
    if (!connection || !box.windowHandle())
        return std::nullopt;
    XReply<xcb_translate_coordinates_reply_t> place(
        xcb_translate_coordinates_reply(
            connection,
            xcb_translate_coordinates(connection, BoxWindow(box), Root(connection), 0, 0), nullptr),
        &std::free);
    if (!place)
        return std::nullopt;
    return QPoint(place->dst_x, place->dst_y);
}

void SetUrgencyHint(QWidget& box) {
    xcb_connection_t* connection = Connection();
    if (!connection || !box.windowHandle())
        return;
    constexpr std::uint32_t kUrgencyHint = 1u << 8;
    // flags, input, state, pixmap, window, x, y, mask, group
    constexpr std::uint32_t kHintsLength = 9;
    std::uint32_t hints[kHintsLength] = {};
    const auto present =
        Property(connection, BoxWindow(box), XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, kHintsLength);
    std::copy_n(present.begin(), std::min<std::size_t>(present.size(), kHintsLength), hints);
    hints[0] |= kUrgencyHint;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, BoxWindow(box), XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHintsLength, hints);
    xcb_flush(connection);
}

void MarkUrgentBeforeMapping(QWidget& box) {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return;
    const xcb_atom_t state = AtomOf(connection, "_NET_WM_STATE");
    const xcb_atom_t demands = AtomOf(connection, "_NET_WM_STATE_DEMANDS_ATTENTION");
    if (state == XCB_ATOM_NONE || demands == XCB_ATOM_NONE)
        return;
    // Qt merges it with its own states when it maps the window.
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, BoxWindow(box), state, XCB_ATOM_ATOM, 32,
                        1, &demands);
    xcb_flush(connection);
}

void DemandAttentionOfMappedWindow(QWidget& box) {
    xcb_connection_t* connection = Connection();
    if (!connection || !box.isVisible())
        return;
    // Qt sets only the EWMH state, and some panels and window managers look at the hint alone.
    SetUrgencyHint(box);
    const xcb_atom_t state = AtomOf(connection, "_NET_WM_STATE");
    const xcb_atom_t demands = AtomOf(connection, "_NET_WM_STATE_DEMANDS_ATTENTION");
    if (state == XCB_ATOM_NONE || demands == XCB_ATOM_NONE)
        return;
    // Add the state, asked by an application.
    SendToWindowManager(connection, BoxWindow(box), state, {1, demands, 0, 1});
}

void ActivateAsAsked(QWidget& box) {
    xcb_connection_t* connection = Connection();
    if (!connection || !box.isVisible())
        return;
    const xcb_atom_t active = AtomOf(connection, "_NET_ACTIVE_WINDOW");
    if (active == XCB_ATOM_NONE)
        return;
    // Asked by a pager, for the person.
    SendToWindowManager(connection, BoxWindow(box), active, {2, XCB_CURRENT_TIME});
}

void Flush() {
    if (xcb_connection_t* connection = Connection())
        xcb_flush(connection);
}

void NameWindowsAfterDesktopEntry() {
    static bool named = false;
    if (named || !Connection() || QGuiApplication::desktopFileName().isEmpty())
        return;
    named = true;
    qGuiApp->installEventFilter(new DesktopEntryNamer(qGuiApp));
}

} // namespace zurodid::x11
