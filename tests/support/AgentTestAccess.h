#pragma once

#include "agent/frmAgent.h"

#include <cstdint>

namespace zurodid {

// What tests and benchmarks may set and read inside the agent window besides its handlers:
// the reminder cursors and the fill's row counter.
struct frmAgentTestAccess {
    static std::int32_t& AlarmCursor(frmAgent& agent) { return agent.AlarmCursor; }
    static std::int32_t& RemindCursor(frmAgent& agent) { return agent.RemindCursor; }
    static std::int16_t& ItemCounter(frmAgent& agent) { return agent.members_.ItemCounter; }
};

} // namespace zurodid
