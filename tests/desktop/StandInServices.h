#pragma once

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <vector>

namespace zurodid::testing {

// Runs the event loop until `done` or the limit.
inline bool Spin(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A panel's StatusNotifierWatcher on the tests' own session bus (no panel runs without a
// display). It answers from a thread of its own, as a panel would from its process, and counts
// how often it is asked whether a host runs.
class StandInWatcher : public QDBusVirtualObject {
public:
    static constexpr const char* kName = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kPath = "/StatusNotifierWatcher";

    StandInWatcher() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel")) {
        moveToThread(&thread_);
        thread_.start();
    }
    ~StandInWatcher() override {
        bus_.unregisterService(kName);
        bus_.unregisterObject(kPath);
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus("panel");
    }

    void TakeTheName() {
        bus_.registerVirtualObject(kPath, this);
        bus_.registerService(kName);
    }
    void RegisterTheHost() {
        hostRegistered_ = true;
        bus_.send(QDBusMessage::createSignal(kPath, kName, "StatusNotifierHostRegistered"));
    }
    int TimesAsked() const { return asked_; }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() != "Get" ||
            message.arguments().value(1).toString() != "IsStatusNotifierHostRegistered")
            return false;
        ++asked_;
        bus.send(message.createReply(QVariant::fromValue(QDBusVariant(bool(hostRegistered_)))));
        return true;
    }

private:
    QThread thread_;
    QDBusConnection bus_;
    std::atomic<bool> hostRegistered_{false};
    std::atomic<int> asked_{0};
};

// A desktop's notification service (org.freedesktop.Notifications) on the tests' own bus,
// answering from a thread of its own. It keeps what it was asked and can act as the person
// does (click the notification, dismiss it), or never answer, as GNOME's without gjs.
class StandInNotifications : public QDBusVirtualObject {
public:
    static constexpr const char* kName = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";

    struct Notice {
        uint id = 0;
        QString appName, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = -1;
    };

    explicit StandInNotifications(bool answers = true, bool markup = true)
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notifications")),
          answers_(answers), markup_(markup) {
        moveToThread(&thread_);
        thread_.start();
        bus_.registerVirtualObject(kPath, this);
        bus_.registerService(kName);
    }
    ~StandInNotifications() override {
        bus_.unregisterService(kName);
        bus_.unregisterObject(kPath);
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus("notifications");
    }

    std::vector<Notice> Shown() const {
        QMutexLocker lock(&mutex_);
        return shown_;
    }
    std::vector<uint> Closed() const {
        QMutexLocker lock(&mutex_);
        return closed_;
    }
    void Click(uint id) {
        bus_.send(QDBusMessage::createSignal(kPath, kName, "ActionInvoked")
                  << id << QString("default"));
    }
    void Dismiss(uint id) {
        bus_.send(QDBusMessage::createSignal(kPath, kName, "NotificationClosed") << id << uint{2});
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (!answers_)
            return true; // taken, never answered
        const QList<QVariant> a = message.arguments();
        if (message.member() == "GetCapabilities") {
            QStringList caps{"actions", "persistence"};
            if (markup_)
                caps << "body-markup";
            bus.send(message.createReply(caps));
            return true;
        }
        if (message.member() == "Notify" && a.size() == 8) {
            QMutexLocker lock(&mutex_);
            Notice notice{static_cast<uint>(shown_.size() + 1),
                          a[0].toString(),
                          a[2].toString(),
                          a[3].toString(),
                          a[4].toString(),
                          a[5].toStringList(),
                          qdbus_cast<QVariantMap>(a[6]),
                          a[7].toInt()};
            shown_.push_back(notice);
            bus.send(message.createReply(QVariant::fromValue(notice.id)));
            return true;
        }
        if (message.member() == "CloseNotification" && a.size() == 1) {
            QMutexLocker lock(&mutex_);
            closed_.push_back(a[0].toUInt());
            bus.send(message.createReply());
            bus.send(QDBusMessage::createSignal(kPath, kName, "NotificationClosed")
                     << a[0].toUInt() << uint{3});
            return true;
        }
        return false;
    }

private:
    QThread thread_;
    QDBusConnection bus_;
    const bool answers_, markup_;
    mutable QMutex mutex_;
    std::vector<Notice> shown_;
    std::vector<uint> closed_;
};

} // namespace zurodid::testing
