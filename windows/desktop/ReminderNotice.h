#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

class QDBusPendingCallWatcher;

namespace zurodid {

// A reminder shown through the desktop's notification service (org.freedesktop.Notifications):
// critical, resident and without expiry, so that it shows over fullscreen windows, takes no
// keys and stays in the desktop's list until the person acts on it. All the D-Bus speech of
// notifications lives here.
//
// Show never waits: the service's answer comes as Shown, or as Failed when there is no
// session bus, no service, or no answer within the bound. From then on the person's doing
// comes as Opened (the notification's action) or Dismissed (closed by the person); Expired
// when the service took it away by itself.
class ReminderNotice final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kAnswerWithin{3000};
    // The notification's one action: clicking it opens the reminder's box.
    static constexpr char kOpenAction[] = "default";

    explicit ReminderNotice(QObject* parent = nullptr);
    ~ReminderNotice() override;

    // `title` is the summary (and the application's name), `text` the body, shown as plain
    // text; `iconName` names the theme icon when one is installed, `picture` is sent along.
    void Show(const QString& title, const QString& text, const QString& iconName,
              const QImage& picture, std::chrono::milliseconds answerWithin = kAnswerWithin);
    // Takes the notification back from the desktop's list, if it is there.
    void Withdraw();
    // The same as the process ends, also for a notification still on its way: waits for the
    // service to have done it, at most `within`, without running the event loop.
    void WithdrawBeforeLeaving(std::chrono::milliseconds within);
    bool IsShown() const { return id_ != 0; }

signals:
    void Shown();
    // Why, for the log; empty when there is no session bus at all (nothing to say then).
    void Failed(const QString& why);
    void Opened();
    void Dismissed();
    void Expired();

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    void Notify(bool markup);
    void GiveUp(const QString& why);
    void Forget();

    QString title_, text_, iconName_;
    QImage picture_;
    QTimer deadline_;
    QDBusPendingCallWatcher* pending_ = nullptr;
    bool notifying_ = false; // pending_ is the Notify call
    bool subscribed_ = false;
    uint id_ = 0;
};

} // namespace zurodid
