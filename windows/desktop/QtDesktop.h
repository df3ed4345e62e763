#pragma once

#include "agent/Desktop.h"
#include "agent/TrayIconRecord.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>

namespace zurodid {

class frmAgent;

// The agent's desktop on Qt: the tray icon and its popup menu, the one-second timer, modal
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
    void EnableTimer() override;
    void PopupMenu() override;
    double TwipsPerPixelX() override;
    StartOutcome StartProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) override;
    void EndProcess() override;

    QSystemTrayIcon* TrayIcon() const { return tray_; }
    QMenu& Menu() { return menu_; }
    QTimer& Timer1() { return timer_; }

private:
    void ShowTrayIconWhenAvailable();
    static void SendPendingRequestsToTheDisplay();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    QIcon icon_;
    frmAgent* agent_ = nullptr;
    WindowShower showWindow_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu menu_;
    QTimer timer_;
    QTimer trayRetry_;
    int trayRetriesLeft_ = 0;
};

} // namespace zurodid
