#pragma once

#include "agent/frmAgent.h"

#include <cstdint>

namespace zurodid {

// What tests and benchmarks may set and read inside the agent window besides its handlers:
// the first rows still owed by each half of the timer, and the fill's row counter.
struct frmAgentTestAccess {
    static std::int32_t AlarmCursor(const frmAgent& agent) {
        return agent.reminders_.FirstOpenRow(ReminderKind::OnTime);
    }
    static std::int32_t RemindCursor(const frmAgent& agent) {
        return agent.reminders_.FirstOpenRow(ReminderKind::Advance);
    }
    static std::int16_t& ItemCounter(frmAgent& agent) { return agent.members_.ItemCounter; }
    // Rows put straight into lvAppointment are owed from `filledAt` on, as after a fill then.
    static void RowsFilledAt(frmAgent& agent, DateTime filledAt) {
        agent.lastFillDay_ = std::chrono::floor<std::chrono::days>(filledAt);
        agent.reminders_.Arm(agent.lvAppointment.ListItems, MinuteOf(filledAt), MinuteOf(filledAt));
    }
};

} // namespace zurodid
