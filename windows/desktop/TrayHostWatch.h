#pragma once

#include <QAbstractNativeEventFilter>
#include <QDBusServiceWatcher>
#include <QObject>
#include <cstdint>

namespace zurodid {

// Says when a notification area may have started, without asking anyone while nothing
// happens: on D-Bus a StatusNotifierWatcher taking its name or a host registering with it
// (a watcher can be up before its host), on X11 a tray taking its selection (the MANAGER
// message it sends to the root window). Wayland has no X connection: D-Bus alone is watched.
class TrayHostWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TrayHostWatch(QObject* parent = nullptr);
    ~TrayHostWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // Also emitted from inside Qt's X event dispatch: connect to it queued.
    void HostMayRun();

private slots:
    void OnHostRegistered();

private:
    void WatchTheTraySelection();

    QDBusServiceWatcher services_;
    // X11 atoms and window ids; 0 while there is no X connection.
    std::uint32_t manager_ = 0;
    std::uint32_t traySelection_ = 0;
    std::uint32_t root_ = 0;
};

} // namespace zurodid
