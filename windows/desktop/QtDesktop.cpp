#include "windows/desktop/QtDesktop.h"

#include "agent/frmAgent.h"
#include "platform/Log.h"
#include "windows/desktop/ReminderBox.h"
#include "windows/desktop/ReminderNotice.h"
#include "windows/desktop/TrayHost.h"
#include "windows/desktop/TrayHostWatch.h"
#include "windows/desktop/TrayItemStatus.h"
#include "windows/desktop/X11.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zurodid {
namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The icon with a red mark in its lower right corner, at the sizes panels draw.
QIcon MarkedForAttention(const QIcon& icon) {
    QIcon marked;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap picture = icon.isNull() ? QPixmap(side, side) : icon.pixmap(side);
        if (icon.isNull())
            picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal mark = side * 0.55;
        const QRectF dot(side - mark, side - mark, mark, mark);
        painter.setPen(QPen(Qt::white, std::max(1.0, side / 16.0)));
        painter.setBrush(QColor(0xd0, 0x10, 0x10));
        painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        marked.addPixmap(picture);
    }
    return marked;
}

} // namespace

QtDesktop::QtDesktop(QIcon icon, QObject* parent) : QObject(parent), icon_(std::move(icon)) {
    x11::NameWindowsAfterDesktopEntry();
    attentionIcon_ = MarkedForAttention(icon_);
    timer_.setInterval(1000);
    timer_.setSingleShot(true);
    minuteTimer_.setSingleShot(true);
    minuteTimer_.setTimerType(Qt::PreciseTimer);
    connect(&minuteTimer_, &QTimer::timeout, this, &QtDesktop::Tick);
    if (!alarm_.CanWake())
        LogFailure("making the wall-clock alarm, the reminder timer wakes every minute instead",
                   alarm_.MakeError(), std::strerror(alarm_.MakeError()));
    diaryRested_.setSingleShot(true);
    diaryRested_.setInterval(1000);
    connect(&diaryRested_, &QTimer::timeout, this, [this] {
        if (timerEnabled_)
            Tick();
    });
    if (alarm_.Descriptor() >= 0) {
        auto* notifier = new QSocketNotifier(alarm_.Descriptor(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            const unsigned events = alarm_.TakeEvents();
            if (events == 0 || !timerEnabled_)
                return;
            // The local clock is worked out afresh once a second: a new zone shows in the next.
            if (events == WallClockAlarm::ZoneChanged) {
                alarm_.Clear();
                timer_.start();
                return;
            }
            Tick();
        });
    }
    for (const PopupMenuItem& entry : kPopupMenu) {
        if (entry.IsSeparator()) {
            menu_.addSeparator();
            continue;
        }
        QAction* action = menu_.addAction(Q(entry.caption));
        const std::int16_t index = IndexOf(entry.item);
        // Queued: the command runs after the menu has closed and, when a StatusNotifierItem
        // host chose it over D-Bus, after the host's call has been answered; a modal About
        // box must not hold either.
        connect(
            action, &QAction::triggered, this,
            [this, index] {
                if (agent_)
                    agent_->mnusubpopup_Click(index);
            },
            Qt::QueuedConnection);
    }
}

QtDesktop::~QtDesktop() = default;

void QtDesktop::Attach(frmAgent& agent, WindowShower showWindow) {
    agent_ = &agent;
    showWindow_ = std::move(showWindow);
    connect(&timer_, &QTimer::timeout, this, &QtDesktop::Tick);
}

void QtDesktop::RegisterTrayIcon(const TrayIconRecordA& record) {
    // One icon per window and id: a second registration keeps the first icon.
    if (trayRegistered_)
        return;
    trayRegistered_ = true;
    tip_ = QString::fromStdString(record.Tip());
    ShowTrayIconWhenAHostRuns();
    if (tray_)
        return;
    // A panel may start long after the agent, or never. Watched from before a second look, so
    // that one starting in between is not missed. Queued: the icon is not made from inside
    // the X event dispatch, and the watch is not deleted from inside its own signal.
    trayWatch_ = std::make_unique<TrayHostWatch>();
    connect(trayWatch_.get(), &TrayHostWatch::HostMayRun, this,
            &QtDesktop::ShowTrayIconWhenAHostRuns, Qt::QueuedConnection);
    ShowTrayIconWhenAHostRuns();
    if (!tray_)
        std::fprintf(stderr, "Zurodid Agent: no notification area is running; the icon will "
                             "appear when one starts.\n");
}

// The icon is made only once a host runs, since Qt fixes the icon's kind when it is made.
// From then on Qt follows the host itself: it registers the item again with a restarted
// StatusNotifierWatcher, and docks the XEmbed icon again in a restarted tray.
void QtDesktop::ShowTrayIconWhenAHostRuns() {
    if (tray_ || !TrayHostPresent())
        return;
    trayWatch_.reset();
    tray_ = new QSystemTrayIcon(icon_, this);
    tray_->setToolTip(tip_);
    // The host shows this menu: over DBusMenu on a StatusNotifierItem host, at the pointer
    // on an XEmbed tray.
    tray_->setContextMenu(&menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, &QtDesktop::OnActivated);
    tray_->show();
    itemStatus_ = TrayItemStatus::TakeOverNewestItem();
    if (attention_)
        SetTrayAttention(true);
}

// The tray's activations reach the agent as the messages of a notification-area icon.
void QtDesktop::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger && openWaitingBox_) {
        openWaitingBox_();
        return;
    }
    if (!agent_)
        return;
    int message = 0;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        message = kLeftButtonUp;
        break;
    case QSystemTrayIcon::Context:
        message = kRightButtonUp;
        break;
    default:
        return;
    }
    agent_->Form_MouseMove(0, 0, static_cast<float>(message * TwipsPerPixelX()), 0);
}

void QtDesktop::Show(WindowName window, ShowMode mode) {
    if (showWindow_)
        showWindow_(window, mode);
}

std::unique_ptr<QMessageBox> QtDesktop::MakeBox(std::string_view text, int iconFlags,
                                                std::string_view title) {
    auto box = std::make_unique<QMessageBox>(iconFlags == vbCritical ? QMessageBox::Critical
                                                                     : QMessageBox::Information,
                                             Q(title), Q(text), QMessageBox::Ok);
    // The text comes from the diary or the settings: never read it as markup.
    box->setTextFormat(Qt::PlainText);
    box->setWindowIcon(icon_);
    // The box's kind for the desktop's tools (X11 WM_WINDOW_ROLE), where a picture says it.
    box->setWindowRole(iconFlags == vbCritical ? QStringLiteral("critical")
                                               : QStringLiteral("information"));
    // A plain OK button, as on Windows. Where the style gives buttons pictures, it loads the OK
    // picture afresh for every box, and Qt's pixmap cache kept each drawn copy: about 2 KB
    // more for every reminder shown, up to the cache's 10 MB.
    for (QAbstractButton* button : box->buttons())
        button->setIcon(QIcon());
    PrepareToBeSeen(*box, keySettle_, boxTitle_.value_or(TitleForThisDesktop()));
    return box;
}

void QtDesktop::MsgBox(std::string_view text, int iconFlags, std::string_view title) {
    std::unique_ptr<QMessageBox> box = MakeBox(text, iconFlags, title);
    KeyGuard keys(*box, keySettle_);
    AskForAttention(*box);
    sound_.Play(iconFlags == vbCritical ? "dialog-error" : "dialog-information");
    box->exec();
}

ReminderWay QtDesktop::WayToRemind() const {
    if (wayToRemind_)
        return *wayToRemind_;
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return ReminderWay::Notice;
    if (platform == QLatin1String("xcb") && x11::ActiveWindowIsFullscreen())
        return ReminderWay::BoxAndNotice;
    return ReminderWay::Box;
}

// The reminder is acknowledged by the box's OK or by dismissing the notification; until then
// the tray asks for attention. The notification's action, or a click on the icon, opens the
// box. Nothing here waits for the notification service: its answer, or the lack of one
// within the bound, comes as an event.
void QtDesktop::Remind(std::string_view text, int iconFlags, std::string_view title) {
    const ReminderWay way = WayToRemind();
    SetTrayAttention(true);
    struct AttentionEnds {
        QtDesktop& desktop;
        ~AttentionEnds() { desktop.SetTrayAttention(false); }
    } attentionEnds{*this};
    if (way == ReminderWay::Box) {
        MsgBox(text, iconFlags, title);
        return;
    }
    std::unique_ptr<QMessageBox> box = MakeBox(text, iconFlags, title);
    // Modal as exec() makes it: changing the modality of the box's made window asks the
    // window manager to give it the focus.
    box->setAttribute(Qt::WA_ShowModal, true);
    KeyGuard keys(*box, keySettle_);
    AskForAttention(*box);
    ReminderNotice notice;
    QEventLoop waiting;
    // Asked for by the person: the box may take the focus now.
    auto openBox = [&box, &notice] {
        notice.Withdraw();
        if (QWindow* window = box->windowHandle())
            window->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        box->show();
        box->raise();
        box->activateWindow();
        x11::ActivateAsAsked(*box);
    };
    connect(box.get(), &QDialog::finished, &waiting, &QEventLoop::quit);
    connect(&notice, &ReminderNotice::Opened, &waiting, openBox);
    connect(&notice, &ReminderNotice::Dismissed, &waiting, &QEventLoop::quit);
    connect(&notice, &ReminderNotice::Shown, &waiting, [this] { noticeFailureSaid_ = false; });
    connect(&notice, &ReminderNotice::Failed, &waiting, [this, &box](const QString& why) {
        SayNoticeFailed(why);
        box->show();
    });
    openWaitingBox_ = openBox;
    waitingNotice_ = &notice;
    sound_.Play(iconFlags == vbCritical ? "dialog-error" : "dialog-information");
    notice.Show(Q(title), Q(text), icon_.name(), icon_.pixmap(64).toImage(), noticeAnswerWithin_);
    if (way == ReminderWay::BoxAndNotice)
        box->show();
    waiting.exec();
    openWaitingBox_ = nullptr;
    waitingNotice_ = nullptr;
}

void QtDesktop::SayNoticeFailed(const QString& why) {
    // No session bus at all: the box is the way, nothing to say.
    if (why.isEmpty() || noticeFailureSaid_)
        return;
    noticeFailureSaid_ = true;
    std::fprintf(stderr,
                 "zurodid-agent: showing a reminder as a notification: %s; it comes in a "
                 "box\n",
                 why.toUtf8().constData());
    std::fflush(stderr);
}

void QtDesktop::SetTrayAttention(bool attention) {
    attention_ = attention;
    if (!tray_)
        return;
    // A visible change on every tray; a StatusNotifierItem host also reads the status.
    tray_->setIcon(attention ? attentionIcon_ : icon_);
    if (itemStatus_)
        itemStatus_->SetNeedsAttention(attention);
}

QString QtDesktop::TrayStatus() const {
    return itemStatus_ ? itemStatus_->Status() : QString();
}

void QtDesktop::EnableTimer() {
    timerEnabled_ = true;
    alarm_.Clear();
    timer_.start();
}

// Whatever was planned is replaced by what this tick plans; a tick that comes while a box of
// an earlier one is open plans nothing, and that one plans when its box closes.
void QtDesktop::Tick() {
    timer_.stop();
    minuteTimer_.stop();
    alarm_.Clear();
    if (agent_)
        agent_->Timer1_Timer();
}

void QtDesktop::NextTickAt(std::optional<DateTime> wallTime) {
    if (!timerEnabled_)
        return;
    if (!wallTime) {
        alarm_.Clear();
        timer_.start();
        return;
    }
    timer_.stop();
    const std::time_t when = WhenLocalClockReaches(*wallTime, std::time(nullptr));
    if (alarm_.CanWake()) {
        alarm_.SetFor(when);
        return;
    }
    // Looks again at least once a minute: a clock set or a sleep is seen a minute late at most.
    using namespace std::chrono;
    const auto wait =
        duration_cast<milliseconds>(system_clock::from_time_t(when) - system_clock::now());
    minuteTimer_.start(std::clamp(wait, milliseconds{0}, milliseconds{minutes{1}}));
}

void QtDesktop::WatchForChange(std::optional<std::filesystem::path> file) {
    delete std::exchange(diaryWatch_, nullptr);
    diaryRested_.stop();
    if (!file)
        return;
    diaryWatch_ = new QFileSystemWatcher(this);
    const QString diary = QString::fromStdString(file->string());
    const QString folder = QString::fromStdString(file->parent_path().string());
    // A file replaced, removed or made anew leaves the watch: taken up again at each change.
    auto watchDiary = [this, diary] {
        if (diaryWatch_ && !diaryWatch_->files().contains(diary) && QFileInfo::exists(diary))
            diaryWatch_->addPath(diary);
    };
    auto changed = [this, watchDiary] {
        watchDiary();
        diaryRested_.start();
    };
    connect(diaryWatch_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(diaryWatch_, &QFileSystemWatcher::directoryChanged, this, changed);
    // A folder not there yet (a drive not mounted) is looked at by the minute's try alone.
    if (QFileInfo(folder).isDir())
        diaryWatch_->addPath(folder);
    watchDiary();
}

void QtDesktop::WakeTimer() {
    if (timerEnabled_)
        QTimer::singleShot(0, this, &QtDesktop::Tick);
}

// The tray has already shown the icon's menu: Qt opens it at the pointer on an XEmbed tray
// before it reports the click, and a StatusNotifierItem host draws it from DBusMenu. Only a
// host that asks the item for its menu instead (ContextMenu) gets it here, at the pointer on
// X11; Wayland has no pointer position for a client and would make the menu a stray window,
// and its hosts read the exported menu.
void QtDesktop::PopupMenu() {
    if (menu_.isVisible() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    menu_.popup(QCursor::pos());
}

double QtDesktop::TwipsPerPixelX() {
    QScreen* screen = QGuiApplication::primaryScreen();
    double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

StartOutcome QtDesktop::StartProgram(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments) {
    QString path = QString::fromStdString(program.string());
    QFileInfo info(path);
    if (!info.exists())
        return {false, "the file does not exist", kFileNotFoundError};
    QStringList args;
    for (const std::string& argument : arguments)
        args << QString::fromStdString(argument);
    QString executable = path;
#ifndef Q_OS_WIN
    // A Windows program runs through wine where it is installed; wine's start asks for the
    // window maximised and given the focus, as the main program is meant to open.
    if (path.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        executable = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (executable.isEmpty())
            return {false, "it is a Windows program and wine is not installed", kCannotStartError};
        args = QStringList{QStringLiteral("start"), QStringLiteral("/max"), QStringLiteral("/unix"),
                           path} +
               args;
    }
#endif
    if (!QProcess::startDetached(executable, args, info.absolutePath()))
        return {false, "the system refused to start it", kCannotStartError};
    return {true, {}};
}

void QtDesktop::EndProcess() {
    // Take the icon away first, so that no dead icon stays in the tray. No event is delivered
    // from here on: a due tick would open a reminder box in the middle of Exit and wait for it.
    delete tray_;
    tray_ = nullptr;
    // A reminder's notification would stay in the desktop's list for good; a service that
    // does not answer holds the end for a moment at most.
    if (waitingNotice_)
        waitingNotice_->WithdrawBeforeLeaving(std::chrono::milliseconds{500});
    // Flushing the X connection sends the icon's removal without reading any event back;
    // elsewhere the process's end takes the icon away with its connection.
    x11::Flush();
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace zurodid
