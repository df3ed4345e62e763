#include "windows/desktop/TrayHostWatch.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace zurodid {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kHostRegistered = QStringLiteral("StatusNotifierHostRegistered");

template <typename Reply> using XReply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name, std::uint16_t length) {
    XReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, length, name), nullptr),
        &std::free);
    return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

TrayHostWatch::TrayHostWatch(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        services_.setConnection(bus);
        services_.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
        services_.addWatchedService(kWatcher);
        connect(&services_, &QDBusServiceWatcher::serviceRegistered, this,
                &TrayHostWatch::HostMayRun);
        bus.connect(kWatcher, kWatcherPath, kWatcher, kHostRegistered, this,
                    SLOT(OnHostRegistered()));
    }
    WatchTheTraySelection();
}

TrayHostWatch::~TrayHostWatch() {
    if (root_ != 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.disconnect(kWatcher, kWatcherPath, kWatcher, kHostRegistered, this,
                       SLOT(OnHostRegistered()));
}

void TrayHostWatch::OnHostRegistered() {
    emit HostMayRun();
}

// A tray that takes _NET_SYSTEM_TRAY_S0 tells the root window's StructureNotify listeners.
void TrayHostWatch::WatchTheTraySelection() {
    xcb_connection_t* connection = X11Connection();
    if (!connection)
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return;
    static constexpr char kManager[] = "MANAGER";
    static constexpr char kSelection[] = "_NET_SYSTEM_TRAY_S0"; // screen 0, as above
    manager_ = Atom(connection, kManager, sizeof kManager - 1);
    traySelection_ = Atom(connection, kSelection, sizeof kSelection - 1);
    if (manager_ == XCB_ATOM_NONE || traySelection_ == XCB_ATOM_NONE)
        return;
    // Our connection's mask on the root window is Qt's too: add to it, never replace it.
    XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, screen->root), nullptr),
        &std::free);
    if (!attributes)
        return;
    if (!(attributes->your_event_mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY)) {
        const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
    }
    root_ = screen->root;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool TrayHostWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->window == root_ && client->type == manager_ && client->format == 32 &&
        client->data.data32[1] == traySelection_)
        emit HostMayRun();
    // Qt follows trays too: the message is its as well.
    return false;
}

} // namespace zurodid
