#pragma once

#include "agent/Desktop.h"
#include "agent/TrayIconRecord.h"
#include "platform/WallClockAlarm.h"
#include "windows/desktop/EventSound.h"
#include "windows/desktop/ReminderBox.h"

#include <QFileSystemWatcher>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace zurodid {

class frmAgent;
class TrayHostWatch;
class TrayItemStatus;
class ReminderNotice;

// How a reminder reaches the person: a box that takes no keys where one can be seen; beside
// it a notification where it cannot be seen (a fullscreen window on X11); only the
// notification where a new window would take the keyboard (Wayland), the box on request.
enum class ReminderWay { Box, BoxAndNotice, Notice };

// The agent's desktop on Qt: the tray icon and its popup menu, the reminder timer (a second
// while there is work, else asleep until the wall clock's next minute that matters), modal
// message boxes, starting programs and ending the process.
class QtDesktop final : public QObject, public Desktop {
    Q_OBJECT
public:
    using WindowShower = std::function<void(WindowName, ShowMode)>;

    explicit QtDesktop(QIcon icon, QObject* parent = nullptr);
    ~QtDesktop() override;

    // The agent receives the tray messages, the menu's clicks and the ticks; the shower opens
    // the shared windows.
    void Attach(frmAgent& agent, WindowShower showWindow);

    void RegisterTrayIcon(const TrayIconRecordA& record) override;
    void Show(WindowName window, ShowMode mode) override;
    void MsgBox(std::string_view text, int iconFlags, std::string_view title) override;
    void Remind(std::string_view text, int iconFlags, std::string_view title) override;
    void EnableTimer() override;
    void NextTickAt(std::optional<DateTime> wallTime) override;
    void WakeTimer() override;
    void WatchForChange(std::optional<std::filesystem::path> file) override;
    void PopupMenu() override;
    double TwipsPerPixelX() override;
    StartOutcome StartProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) override;
    void EndProcess() override;

    // The icon once a notification area has taken it; null while none runs.
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    QMenu& Menu() { return menu_; }
    QTimer& Timer1() { return timer_; }
    // Stands in for the wall-clock alarm when the kernel would not make one.
    QTimer& MinuteTimer() { return minuteTimer_; }
    // How long a box must be left alone before keys act on it (tests shorten it).
    void SetKeySettle(std::chrono::milliseconds settle) { keySettle_ = settle; }
    // How long the notification service has to answer before the box comes instead.
    void SetNoticeAnswerWithin(std::chrono::milliseconds bound) { noticeAnswerWithin_ = bound; }
    // What the tray reports of a click on the icon, as the agent's tray message; while a
    // reminder waits for the person, a left click opens its box.
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    // The way for this desktop; tests choose one.
    ReminderWay WayToRemind() const;
    void SetWayToRemind(std::optional<ReminderWay> way) { wayToRemind_ = way; }
    // Who draws the box's title; tests choose.
    void SetBoxTitle(std::optional<BoxTitle> title) { boxTitle_ = title; }
    // The StatusNotifierItem's status as hosts read it; empty on an XEmbed tray or none.
    QString TrayStatus() const;
    bool TrayAsksForAttention() const { return attention_; }

private:
    void ShowTrayIconWhenAHostRuns();
    void Tick();
    std::unique_ptr<QMessageBox> MakeBox(std::string_view text, int iconFlags,
                                         std::string_view title);
    void SetTrayAttention(bool attention);
    void SayNoticeFailed(const QString& why);

    QIcon icon_;
    QIcon attentionIcon_; // the icon with a mark, while a reminder waits for the person
    bool attention_ = false;
    std::unique_ptr<TrayItemStatus> itemStatus_;
    std::optional<ReminderWay> wayToRemind_;
    std::optional<BoxTitle> boxTitle_;
    // While a reminder waits for the person: shows its box; its notification, if any.
    std::function<void()> openWaitingBox_;
    ReminderNotice* waitingNotice_ = nullptr;
    bool noticeFailureSaid_ = false;
    QString tip_;
    frmAgent* agent_ = nullptr;
    WindowShower showWindow_;
    bool trayRegistered_ = false;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu menu_;
    QTimer timer_; // the next tick within a second
    bool timerEnabled_ = false;
    WallClockAlarm alarm_; // the next tick minutes ahead, or at once when the clock jumps
    QTimer minuteTimer_;   // without an alarm: the next tick, at most a minute ahead
    // While a read fails: a change of the diary or its folder, then a second's rest, ticks.
    QFileSystemWatcher* diaryWatch_ = nullptr;
    QTimer diaryRested_;
    // Only while no notification area runs: what tells that one may have started.
    std::unique_ptr<TrayHostWatch> trayWatch_;
    EventSound sound_;
    std::chrono::milliseconds keySettle_ = KeyGuard::kSettle;
    std::chrono::milliseconds noticeAnswerWithin_{3000};
};

} // namespace zurodid
