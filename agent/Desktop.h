#pragma once

#include "platform/DateTime.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zurodid {

struct TrayIconRecordA;

enum class WindowName { frmList, frmLogIn, frmOption, frmAbout };
enum class ShowMode { Modeless, Modal };

// The tray icon's messages that the agent acts on: a left and a right button's release.
inline constexpr int kLeftButtonUp = 514;
inline constexpr int kRightButtonUp = 517;

// Message-box icon flags.
inline constexpr int vbCritical = 16;
inline constexpr int vbInformation = 64;
inline constexpr std::string_view kAgentTitle = "Zurodid Agent";

struct StartOutcome {
    bool started = false;
    std::string error; // why it could not start, for the user
    // The runtime's number for it: 53 the file is missing, 5 it could not be started.
    int errorNumber = 0;
};
inline constexpr int kFileNotFoundError = 53;
inline constexpr int kCannotStartError = 5;

// Everything the agent needs from the desktop. The Qt layer implements it; tests fake it.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void RegisterTrayIcon(const TrayIconRecordA& record) = 0;
    // Shows a shared window instance: loads it first when it is not loaded. Modal returns
    // when the window has closed.
    virtual void Show(WindowName window, ShowMode mode) = 0;
    // A modal box with one OK button; returns when it is closed.
    virtual void MsgBox(std::string_view text, int iconFlags, std::string_view title) = 0;
    // Starts the reminder timer: it ticks in a second.
    virtual void EnableTimer() = 0;
    // After a tick, when the next comes: in a second, or, when nothing can happen sooner, once
    // the wall clock reads `wallTime`. A clock set, a resume from suspend or a time-zone change
    // brings the tick at once.
    virtual void NextTickAt(std::optional<DateTime> wallTime) = 0;
    // The settings changed what is owed: an enabled timer ticks at once.
    virtual void WakeTimer() = 0;
    // While `file` is given: a change of it, or of the entries of its folder, brings a tick
    // once the changes have paused for a second (a read that failed is tried again then).
    // None ends the watch.
    virtual void WatchForChange(std::optional<std::filesystem::path> file) = 0;
    // Opens the popup menu at the mouse position; its choice arrives as mnusubpopup_Click.
    virtual void PopupMenu() = 0;
    virtual double TwipsPerPixelX() = 0;
    // Starts a program without a shell and without waiting.
    virtual StartOutcome StartProgram(const std::filesystem::path& program,
                                      const std::vector<std::string>& arguments) = 0;
    // Ends the process at once; does not return in the agent (a test's fake throws).
    virtual void EndProcess() = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime Now() = 0;
};

} // namespace zurodid
