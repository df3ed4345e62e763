#include "platform/WallClockAlarm.h"

#include "support/TempFolder.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>

namespace zurodid::testing {
namespace {

using namespace std::chrono;

std::time_t Utc(int y, unsigned m, unsigned d, int hh, int mm) {
    return system_clock::to_time_t(sys_days{year{y} / month{m} / day{d}} + hours{hh} + minutes{mm});
}

DateTime Local(int y, unsigned m, unsigned d, int hh, int mm) {
    return local_days{year{y} / month{m} / day{d}} + hours{hh} + minutes{mm};
}

// The process's time zone for one test.
class ZoneFor {
public:
    explicit ZoneFor(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneFor() {
        if (old_.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", old_.c_str(), 1);
        ::tzset();
    }

private:
    std::string old_;
};

TEST(WhenLocalClockReaches, TheFirstInstantOfTheMinuteOrTheOffsetChangeBeforeIt) {
    struct Case {
        const char* name;
        const char* zone;
        std::time_t now;
        DateTime target;
        std::time_t expected;
    };
    const Case cases[] = {
        {"an hour ahead", "UTC", Utc(2026, 12, 7, 9, 0), Local(2026, 12, 7, 10, 0),
         Utc(2026, 12, 7, 10, 0)},
        {"already passed", "UTC", Utc(2026, 12, 7, 9, 0), Local(2026, 12, 7, 8, 0),
         Utc(2026, 12, 7, 9, 0)},
        {"an hour east", "Europe/Berlin", Utc(2026, 12, 7, 8, 0), Local(2026, 12, 7, 10, 0),
         Utc(2026, 12, 7, 9, 0)},
        // 02:30 never comes: the clock goes from 01:59:59 to 03:00.
        {"a minute skipped in spring", "Europe/Berlin", Utc(2026, 3, 29, 0, 30),
         Local(2026, 3, 29, 2, 30), Utc(2026, 3, 29, 1, 0)},
        {"after the change, seen from before it", "Europe/Berlin", Utc(2026, 3, 29, 0, 30),
         Local(2026, 3, 29, 4, 0), Utc(2026, 3, 29, 1, 0)},
        {"after the change, seen from the change", "Europe/Berlin", Utc(2026, 3, 29, 1, 0),
         Local(2026, 3, 29, 4, 0), Utc(2026, 3, 29, 2, 0)},
        // 02:30 comes twice: the first time.
        {"a minute repeated in autumn", "Europe/Berlin", Utc(2026, 10, 24, 23, 0),
         Local(2026, 10, 25, 2, 30), Utc(2026, 10, 25, 0, 30)},
        {"New York's spring", "America/New_York", Utc(2026, 3, 8, 6, 30), Local(2026, 3, 8, 2, 15),
         Utc(2026, 3, 8, 7, 0)},
    };
    for (const Case& c : cases) {
        ZoneFor zone(c.zone);
        EXPECT_EQ(WhenLocalClockReaches(c.target, c.now), c.expected) << c.name;
    }
}

// The events once the descriptor is readable, waiting at most 10 s.
unsigned EventsWhenReadable(WallClockAlarm& alarm) {
    pollfd wanted{alarm.Descriptor(), POLLIN, 0};
    if (::poll(&wanted, 1, 10'000) != 1)
        return 0;
    return alarm.TakeEvents();
}

TEST(WallClockAlarm, WakesAtItsInstantOnAZoneFileReplacedAndOnAContinue) {
    TempFolder zones;
    WallClockAlarm alarm(zones.Path());
    ASSERT_GE(alarm.Descriptor(), 0);
    EXPECT_EQ(alarm.TakeEvents(), 0u) << "nothing happened yet";

    alarm.SetFor(std::time(nullptr) + 1);
    EXPECT_EQ(EventsWhenReadable(alarm), unsigned{WallClockAlarm::Reached});

    // Other files in the folder wake it but say nothing; the zone file replaced as tools do
    // it says so.
    std::ofstream(zones / "hostname") << "x";
    pollfd woken{alarm.Descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&woken, 1, 10'000), 1);
    EXPECT_EQ(alarm.TakeEvents(), 0u);
    std::ofstream(zones / "localtime.new") << "TZif";
    std::filesystem::rename(zones / "localtime.new", zones / "localtime");
    EXPECT_EQ(EventsWhenReadable(alarm), unsigned{WallClockAlarm::ZoneChanged});

    ASSERT_EQ(::raise(SIGCONT), 0);
    EXPECT_EQ(EventsWhenReadable(alarm), unsigned{WallClockAlarm::Continued});

    // Cleared, the instant passes without a word.
    alarm.SetFor(std::time(nullptr) - 5);
    alarm.Clear();
    pollfd wanted{alarm.Descriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&wanted, 1, 0), 0);
}

} // namespace
} // namespace zurodid::testing
