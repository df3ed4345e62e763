#include "windows/desktop/TrayHostWatch.h"

#include "windows/desktop/X11.h"

#include <QCoreApplication>
#include <QDBusConnection>

namespace zurodid {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kHostRegistered = QStringLiteral("StatusNotifierHostRegistered");

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
    manager_ = x11::Atom("MANAGER");
    traySelection_ = x11::Atom("_NET_SYSTEM_TRAY_S0"); // screen 0, as XEmbedTrayPresent
    if (manager_ == 0 || traySelection_ == 0)
        return;
    root_ = x11::WatchRootWindow();
    if (root_ != 0)
        QCoreApplication::instance()->installNativeEventFilter(this);
}

bool TrayHostWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType == "xcb_generic_event_t" &&
        x11::IsManagerMessage(message, root_, manager_, traySelection_))
        emit HostMayRun();
    // Qt follows trays too: the message is its as well.
    return false;
}

} // namespace zurodid
