#pragma once

#include "agent/Desktop.h"
#include "agent/PopupMenu.h"
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
    // Timer1: the one-second reminder timer; one tick.
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
    friend struct frmAgentTestAccess; // tests set and read the cursors and the counter

    void RunStartUpStep(int step);
    void RunOpenStep(int step, DiaryStore& store);
    // One line on standard error: the step that failed, what that meant, the file.
    void LogStepFailure(int step, std::string_view consequence, int errorNumber,
                        std::string_view errorText);
    // At the first tick of a new day: the diary opened again without asking anything, the
    // list refilled for the day, both cursors on row 1. No icon, settings or list window.
    void RebuildForNewDay();
    // One half of a tick: the on-time alarm (lead 0, critical icon) or the advance reminder,
    // both decided on one reading of the clock.
    void RemindHalf(std::int32_t& cursor, int lead, int iconFlags, DateTime now);
    static int MinutesToGo(DateTime now, DateTime rowTime);

    ProcessState& state_;
    Desktop& desktop_;
    Clock& clock_;
    ListFillMembers members_; // ItemCounter, ItemNumber, CurrentItem of ShowAll
    // 32 bits, so that a cursor can pass the last row of a full list (32,767 rows).
    std::int32_t AlarmCursor = 0;
    std::int32_t RemindCursor = 0;
    DateTime AlarmTime{};      // the examined row's time of day, on day zero
    bool tickRunning_ = false; // a reminder box of this tick is open
    std::optional<std::chrono::local_days> lastFillDay_; // the day the list was filled for
};

} // namespace zurodid
