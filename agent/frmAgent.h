#pragma once

#include "agent/Desktop.h"
#include "agent/PopupMenu.h"
#include "agent/ReminderBook.h"
#include "agent/TrayIconRecord.h"
#include "store/ListFill.h"
#include "store/ListRows.h"
#include "store/ProcessState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zurodid {

// The resident, never-shown agent window: start-up, the hidden appointment list, the reminder
// timer, the tray messages and the popup menu.
class frmAgent {
public:
    frmAgent(ProcessState& state, Desktop& desktop, Clock& clock)
        : state_(state), desktop_(desktop), clock_(clock) {}

    // Form_Load: the agent window's load event, the start-up sequence; run again by Refresh.
    void Form_Load();
    // Appends today's and the coming days' appointments to lvAppointment.
    void ShowAll();
    // Timer1: the reminder timer; one tick, which says when the next comes.
    void Timer1_Timer();
    // A tray notification, which arrives as a mouse move over the hidden window, the message
    // number standing in the horizontal coordinate (twips).
    void Form_MouseMove(int button, int shift, float x, float y);
    // mnusubpopup: the items of the tray icon's popup menu; Index is a PopupItem (others do
    // nothing).
    void mnusubpopup_Click(std::int16_t index);

    // TrayIconRecord: the tray icon's registration record.
    zurodid::TrayIconRecord TrayIconRecord;
    // lvAppointment: the hidden list of the coming appointments, read back by the timer.
    ListView lvAppointment;

private:
    friend struct frmAgentTestAccess; // tests read the cursors and set the counter

    // What a read of the diary stood for, as the log says it.
    enum class ReadPurpose { StartUp, Refresh };

    void RunStartUpStep(int step);
    void RunOpenStep(int step, DiaryStore& store);
    // One line on standard error: the step that failed, what that meant, the file.
    void LogStepFailure(int step, std::string_view consequence, int errorNumber,
                        std::string_view errorText);
    // Fills `rows` from `appointments` as ShowAll does; the error that ended it, if any.
    FillEnd FillInto(ListView& rows, Recordset* appointments, FillError& error);
    // Puts a read in place: its objects, its list, and the reminders owed from `floor` on.
    void Adopt(DiaryStore& store, ListView& rows, WallMinute floor);
    // A read that would have owed reminders from `floor` failed: the previous objects and list
    // stay and the agent tries again on its own, when the file has changed and rested or a
    // minute later; said once until a read succeeds.
    void ReadFailed(WallMinute floor);
    void ReadSucceeded();
    // The open and the fill again, as a retry after a failed read: the log-in dialog only when
    // the diary refuses the password. True when the new read is in place.
    bool ReadAgain(WallMinute floor);
    bool RetryIsDue(DateTime now);
    // When the tick after this one comes: in a second while there is work a second at a time,
    // otherwise at the first minute a reminder can be due, or at midnight.
    void PlanNextTick(DateTime now, bool boxShown);
    // At the first tick of a new day: the diary opened again without asking anything, the
    // list refilled for the day. No icon, settings or list window.
    void RebuildForNewDay(DateTime now);

    ProcessState& state_;
    Desktop& desktop_;
    Clock& clock_;
    ListFillMembers members_; // ItemCounter, ItemNumber, CurrentItem of ShowAll
    ReminderBook reminders_;  // AlarmCursor and RemindCursor: the first rows still owed
    DiaryStore loading_;      // the objects of a start-up or Refresh until its read is whole
    ListView loadingRows_;
    bool tickRunning_ = false;    // a reminder box of this tick is open
    bool reading_ = false;        // Form_Load, a retry or a rebuild is reading (maybe in a dialog)
    bool adopted_ = false;        // a fill has been put in place
    bool listWindowOwed_ = false; // the start-up's list window, waiting for a first read
    std::optional<std::chrono::local_days> lastFillDay_; // the day the list was filled for
    std::optional<WallMinute> lastLook_;                 // the minute of the last tick

    // A read that failed, to be tried again.
    struct Retry {
        DateTime lastTry;     // on the agent's clock
        std::string lastLook; // the diary file as seen at the last try and the last tick
        std::string previousLook;
        bool settling; // the file changed since the tick before: looked at again in a second
    };
    std::optional<Retry> retry_;
};

} // namespace zurodid
