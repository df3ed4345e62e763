#pragma once

#include "platform/DateTime.h"

#include <ctime>
#include <filesystem>

namespace zurodid {

// The instant at which the local wall clock first reads `target` or later, seen from `now`.
// When the clock's offset from UTC changes before then (daylight saving, which may skip
// `target` altogether), the instant of the change instead, to look again from there.
std::time_t WhenLocalClockReaches(DateTime target, std::time_t now);

// Wakes an event loop that sleeps for minutes: when the wall clock reaches a set instant, and
// at once when the clock may have jumped meanwhile. The kernel says when the clock was set or
// the machine woke from a suspend; the time zone is watched as the zone files in `zoneFolder`
// being replaced; a process that was stopped and continued has missed time too. One
// descriptor to wait on.
class WallClockAlarm {
public:
    enum Event : unsigned {
        Reached = 1,
        ClockChanged = 2,
        ZoneChanged = 4,
        Continued = 8,
    };

    explicit WallClockAlarm(const std::filesystem::path& zoneFolder = "/etc");
    ~WallClockAlarm();
    WallClockAlarm(const WallClockAlarm&) = delete;
    WallClockAlarm& operator=(const WallClockAlarm&) = delete;

    // Readable when an event is waiting; -1 when the kernel gave none (then nothing wakes).
    int Descriptor() const { return poll_; }
    // Whether Reached can come at all; when not, the error number that kept it from being made.
    bool CanWake() const { return poll_ >= 0 && timer_ >= 0; }
    int MakeError() const { return makeError_; }
    // Reached comes once the real-time clock reads `when`; replaces the instant set before.
    void SetFor(std::time_t when);
    void Clear();
    // The events since the last call, as a mask of Event; 0 when none.
    unsigned TakeEvents();

private:
    void ArmTimer(std::time_t when);

    int poll_ = -1;
    int timer_ = -1;
    int zone_ = -1;
    int continued_ = -1;
    int makeError_ = 0;
    std::time_t when_ = 0;
    bool set_ = false;
};

} // namespace zurodid
