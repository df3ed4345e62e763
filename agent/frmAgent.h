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

    // The start-up sequence; run again in full by Refresh.
    void Form_Load();
    // Appends today's and the coming days' appointments to lvAppointment.
    void ShowAll();
    // One tick of the reminder timer.
    void Timer1_Timer();
    // A tray notification, the message number standing in the horizontal coordinate (twips).
    void Form_MouseMove(int button, int shift, float x, float y);
    // A choice in the popup menu: the index of a PopupItem (others do nothing).
    void mnusubpopup_Click(std::int16_t index);

    zurodid::TrayIconRecord TrayIconRecord;
    // lvAppointment: the hidden list of the coming appointments, read back by the timer.
    ListView lvAppointment;

private:
    friend struct frmAgentTestAccess; // tests set and read the cursors and the counter

    void RunStartUpStep(int step);
    void RunOpenStep(int step, DiaryStore& store);
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
