// When reminders come: every reminder the list owes is shown once, late rather than lost,
// whatever the clock does and whatever rebuilds the list meanwhile.
#include "agent/AgentFixture.h"

#include <functional>
#include <set>
#include <utility>

namespace zurodid::testing {
namespace {

using std::chrono::seconds;

// One tick a second from `from` through `to`; between two spans the process sleeps or the
// clock is set.
struct Span {
    DateTime from, to;
};

// An agent of its own for each case: no reminder is shown twice in a day.
struct Rig : AgentRig {
    // Starts the agent at the first span's start, then ticks through the spans; a box stays
    // open `boxOpen` seconds (the first one `firstBoxOpen`), the timer firing meanwhile.
    // With `asPlanned`, a tick comes only when the last one asked for it (the timer asleep
    // meanwhile), and at the start of each span (the clock jumped or the process woke).
    std::vector<std::string> Run(const std::vector<Span>& spans, int boxOpen = 1,
                                 int firstBoxOpen = 1, bool asPlanned = false) {
        desktop.onBox = [&, shown = 0](const ShownBox&) mutable {
            clock.now += seconds{shown++ == 0 ? firstBoxOpen : boxOpen};
            agent.Timer1_Timer();
        };
        clock.now = spans.front().from;
        agent.Form_Load();
        for (const Span& span : spans) {
            for (clock.now = span.from; clock.now <= span.to;) {
                const std::size_t plans = desktop.nextTicks.size();
                agent.Timer1_Timer();
                ++ticks;
                if (!asPlanned || desktop.nextTicks.size() == plans || !desktop.nextTicks.back())
                    clock.now += seconds{1};
                else
                    clock.now = std::max(clock.now + seconds{1}, *desktop.nextTicks.back());
            }
        }
        return Boxes();
    }
    int ticks = 0;

    // Starts the agent at `from` and lets the timer sleep as it plans until `to`; each event
    // happens at its minute, and one that `wakes` (Options) brings a tick at once.
    struct Event {
        DateTime at;
        std::function<void(Rig&)> happen;
        bool wakes;
    };
    std::vector<std::string> RunAsPlanned(DateTime from, DateTime to, std::vector<Event> events) {
        desktop.onBox = [&](const ShownBox&) {
            clock.now += seconds{1};
            agent.Timer1_Timer();
        };
        clock.now = from;
        std::size_t e = 0;
        for (; e < events.size() && events[e].at <= from; ++e) // the start-up's own conditions
            events[e].happen(*this);
        agent.Form_Load();
        DateTime next = from + seconds{1};
        for (;;) {
            if (e < events.size() && events[e].at <= next) {
                clock.now = std::max(clock.now, events[e].at);
                events[e].happen(*this);
                if (!events[e++].wakes)
                    continue;
            } else if (next > to) {
                break;
            } else {
                clock.now = next;
            }
            const std::size_t plans = desktop.nextTicks.size();
            agent.Timer1_Timer();
            ++ticks;
            next = clock.now + seconds{1};
            if (desktop.nextTicks.size() > plans && desktop.nextTicks.back())
                next = std::max(next, *desktop.nextTicks.back());
        }
        return Boxes();
    }
};

TEST(WhenRemindersCome, ClockScriptsShowEachOwedReminderOnceInListOrder) {
    struct Case {
        const char* name;
        std::string settings;
        std::vector<std::pair<DateTime, std::string>> rows;
        std::vector<Span> spans;
        int firstBoxOpen;
        std::vector<std::string> boxes;
    };
    const auto D7 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 7, hh, mm, ss); };
    const auto D8 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 8, hh, mm, ss); };
    const Case cases[] = {
        {"an advance box open from 09:59 to 10:03:50",
         "Remind=1\r\nAppointmentRemind=1\r\n",
         {{D7(10, 0), "a"},
          {D7(10, 1), "b"},
          {D7(10, 2), "c"},
          {D7(10, 3), "d"},
          {D7(10, 10), "e"}},
         {{D7(9, 58), D7(10, 11)}},
         290,
         // b, c and d's advance reminders came while their appointments had come: the on-time
         // box covers them.
         {"64 10:00 : a", "16 10:00 : a", "16 10:01 : b", "16 10:02 : c", "16 10:03 : d",
          "64 10:10 : e", "16 10:10 : e"}},
        {"two identical rows, the first box closed after their minute",
         "",
         {{D7(9, 5), "same"}, {D7(9, 5), "same"}},
         {{D7(9, 4), D7(9, 7)}},
         70,
         {"16 09:05 : same", "16 09:05 : same"}},
        {"three identical rows and another between them",
         "",
         {{D7(9, 5), "same"}, {D7(9, 5), "other"}, {D7(9, 5), "same"}, {D7(9, 5), "same"}},
         {{D7(9, 4), D7(9, 7)}},
         70,
         {"16 09:05 : same", "16 09:05 : other", "16 09:05 : same", "16 09:05 : same"}},
        {"asleep across two appointments and their advance minutes",
         "Remind=1\r\nAppointmentRemind=5\r\n",
         {{D7(10, 0), "a"}, {D7(10, 10), "b"}},
         {{D7(9, 50), D7(9, 54)}, {D7(10, 20), D7(10, 20, 5)}},
         1,
         {"16 10:00 : a", "16 10:10 : b"}},
        {"asleep across midnight, today's list only",
         "",
         {{D7(23, 55), "a"}, {D8(0, 10), "b"}},
         {{D7(23, 50), D7(23, 50, 5)}, {D8(0, 15), D8(0, 15, 5)}},
         1,
         {"16 23:55 : a", "16 00:10 : b"}},
        {"asleep across midnight, tomorrow listed too",
         "AppointmentStartUp=1\r\n",
         {{D7(23, 55), "a"}, {D8(0, 10), "b"}},
         {{D7(23, 50), D7(23, 50, 5)}, {D8(0, 15), D8(0, 15, 5)}},
         1,
         {"16 23:55 : a", "16 00:10 : b"}},
        {"the clock set back 2.5 minutes across midnight",
         "AppointmentStartUp=1\r\n",
         {{D7(23, 59), "a"}, {D8(0, 0), "b"}, {D8(0, 1), "c"}},
         {{D7(23, 58), D8(0, 1, 30)}, {D7(23, 59), D8(0, 2)}},
         1,
         {"16 23:59 : a", "16 00:00 : b", "16 00:01 : c"}},
        // Summer time as the local clock shows it.
        {"Europe/Berlin 2026-03-29, 02:00 becomes 03:00",
         "",
         {{At(2026, 3, 29, 2, 30), "a"}, {At(2026, 3, 29, 3, 15), "b"}},
         {{At(2026, 3, 29, 1, 59), At(2026, 3, 29, 1, 59, 59)},
          {At(2026, 3, 29, 3, 0), At(2026, 3, 29, 3, 16)}},
         1,
         {"16 02:30 : a", "16 03:15 : b"}},
        {"Europe/Berlin 2026-10-25, 03:00 becomes 02:00",
         "",
         {{At(2026, 10, 25, 2, 30), "a"}, {At(2026, 10, 25, 2, 45), "b"}},
         {{At(2026, 10, 25, 2, 0), At(2026, 10, 25, 2, 59, 59)},
          {At(2026, 10, 25, 2, 0), At(2026, 10, 25, 3, 0)}},
         1,
         {"16 02:30 : a", "16 02:45 : b"}},
        {"America/New_York 2026-03-08, 02:00 becomes 03:00",
         "",
         {{At(2026, 3, 8, 2, 15), "a"}},
         {{At(2026, 3, 8, 1, 59), At(2026, 3, 8, 1, 59, 59)},
          {At(2026, 3, 8, 3, 0), At(2026, 3, 8, 3, 0, 10)}},
         1,
         {"16 02:15 : a"}},
        {"America/New_York 2026-11-01, 02:00 becomes 01:00",
         "",
         {{At(2026, 11, 1, 1, 30), "a"}},
         {{At(2026, 11, 1, 1, 0), At(2026, 11, 1, 1, 59, 59)},
          {At(2026, 11, 1, 1, 0), At(2026, 11, 1, 2, 0)}},
         1,
         {"16 01:30 : a"}},
    };
    for (const auto& c : cases) {
        // The same boxes whether the timer ticks every second or sleeps until it is needed.
        for (bool asPlanned : {false, true}) {
            Rig fresh;
            fresh.Settings(c.settings);
            for (const auto& [when, subject] : c.rows)
                fresh.Appointment(when, subject);
            EXPECT_EQ(fresh.Run(c.spans, 1, c.firstBoxOpen, asPlanned), c.boxes)
                << c.name << (asPlanned ? ", ticks as planned" : "");
            if (asPlanned) { // about one tick a box and one each side of a span, not a second
                EXPECT_LE(fresh.ticks, static_cast<int>(2 * (c.boxes.size() + c.spans.size())))
                    << c.name;
            }
        }
    }
}

TEST(WhenRemindersCome, SwitchesAndFailedReadsOweFromTheMinuteTheyHappened) {
    const auto D7 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 7, hh, mm, ss); };
    const auto remind = [](int on, int lead) {
        return [on, lead](Rig& t) {
            t.state.AgentSettings.Remind = static_cast<std::int16_t>(on);
            t.state.AgentSettings.AppointmentRemind = static_cast<std::int16_t>(lead);
        };
    };
    const auto diaryFails = [](bool fails) {
        return [fails](Rig& t) {
            t.diary.failOpen =
                fails ? std::optional<int>(ErrorNumber::DatabaseDamaged) : std::nullopt;
        };
    };
    struct Case {
        const char* name;
        std::string settings;
        std::vector<std::pair<DateTime, std::string>> rows;
        DateTime from, to;
        std::vector<Rig::Event> events;
        std::vector<std::string> boxes;
        int maxTicks;
    };
    const Case cases[] = {
        {"advance reminders switched on at 09:45 with a 20-minute lead, asleep since 09:00",
         "",
         {{D7(10, 0), "a"}},
         D7(9, 0),
         D7(10, 1),
         {{D7(9, 45), remind(1, 20), true}},
         {"16 10:00 : a"},
         6},
        {"the lead made longer past its minute at 09:45",
         "Remind=1\r\nAppointmentRemind=5\r\n",
         {{D7(10, 0), "a"}},
         D7(9, 0),
         D7(10, 1),
         {{D7(9, 45), remind(1, 20), true}},
         {"16 10:00 : a"},
         6},
        {"switched off at 09:30 and on again at 09:50",
         "Remind=1\r\nAppointmentRemind=20\r\n",
         {{D7(10, 0), "a"}, {D7(10, 30), "b"}},
         D7(9, 0),
         D7(10, 31),
         {{D7(9, 30), remind(0, 20), true}, {D7(9, 50), remind(1, 20), true}},
         {"16 10:00 : a", "64 10:30 : b", "16 10:30 : b"},
         12},
        {"the first read fails at 09:59:10 and works again from 10:00:30",
         "",
         {{D7(9, 59), "a"}, {D7(10, 5), "b"}},
         D7(9, 59, 10),
         D7(10, 6),
         {{D7(9, 59, 10), diaryFails(true), false}, {D7(10, 0, 30), diaryFails(false), false}},
         {"16 09:59 : a", "16 10:05 : b"},
         8},
        {"the diary gone for an hour from the start",
         "Remind=1\r\nAppointmentRemind=10\r\n",
         {{D7(9, 30), "a"}, {D7(10, 30), "b"}},
         D7(9, 0),
         D7(10, 31),
         {{D7(9, 0), diaryFails(true), false}, {D7(10, 0), diaryFails(false), false}},
         {"16 09:30 : a", "64 10:30 : b", "16 10:30 : b"},
         // A try every two minutes while it fails, no more.
         40},
    };
    for (const auto& c : cases) {
        Rig t;
        t.Settings(c.settings);
        for (const auto& [when, subject] : c.rows)
            t.Appointment(when, subject);
        EXPECT_EQ(t.RunAsPlanned(c.from, c.to, c.events), c.boxes) << c.name;
        EXPECT_LE(t.ticks, c.maxTicks) << c.name;
    }
}

TEST(WhenRemindersCome, TwoHundredRowsInOneMinuteAndTheOneBehindThem) {
    for (bool asPlanned : {false, true}) {
        Rig t;
        std::vector<std::string> expected;
        for (int i = 1; i <= 200; ++i) {
            t.Appointment(At(2026, 12, 7, 10, 0), "r" + std::to_string(i));
            expected.push_back("16 10:00 : r" + std::to_string(i));
        }
        t.Appointment(At(2026, 12, 7, 10, 2), "behind");
        expected.push_back("16 10:02 : behind");
        EXPECT_EQ(t.Run({{At(2026, 12, 7, 9, 59), At(2026, 12, 7, 10, 10)}}, 2, 2, asPlanned),
                  expected);
    }
}

TEST(WhenRemindersCome, ARebuildDuringABoxOrDialogSkipsNothingAndDoublesNothing) {
    struct Case {
        const char* name;
        std::string settings;
        std::string password;
        std::vector<std::pair<DateTime, std::string>> rows;
        Span span;
        // What happens while the first box is open, or while the log-in dialog is.
        std::function<void(Rig&)> duringFirstBox;
        std::function<void(Rig&)> duringLogIn;
        std::vector<std::string> boxes;
    };
    const auto D7 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 7, hh, mm, ss); };
    const auto D8 = [](int hh, int mm, int ss = 0) { return At(2026, 12, 8, hh, mm, ss); };
    const auto refresh = [](Rig& t) { t.agent.mnusubpopup_Click(IndexOf(PopupItem::Refresh)); };
    const Case cases[] = {
        {"Refresh while a box is open",
         "",
         "",
         {{D7(10, 0), "a"}, {D7(10, 0), "b"}, {D7(10, 5), "c"}},
         {D7(9, 59), D7(10, 6)},
         refresh,
         nullptr,
         {"16 10:00 : a", "16 10:00 : b", "16 10:05 : c"}},
        {"midnight while a box is open",
         "AppointmentStartUp=1\r\n",
         "",
         {{D7(23, 59), "a"}, {D8(0, 0), "b"}, {D8(0, 1), "c"}},
         {D7(23, 58), D8(0, 3)},
         [D8](Rig& t) {
             t.clock.now = D8(0, 1, 30);
             t.agent.Timer1_Timer();
         },
         nullptr,
         {"16 23:59 : a", "16 00:00 : b", "16 00:01 : c"}},
        {"Options changes the lead while a box is open",
         "Remind=1\r\nAppointmentRemind=5\r\n",
         "",
         {{D7(10, 0), "a"}, {D7(10, 20), "b"}},
         {D7(9, 50), D7(10, 21)},
         [D8](Rig& t) { t.state.AgentSettings.AppointmentRemind = 15; },
         nullptr,
         {"64 10:00 : a", "16 10:00 : a", "64 10:20 : b", "16 10:20 : b"}},
        {"Options switches advance reminders on while a box is open",
         "Remind=0\r\nAppointmentRemind=0\r\n",
         "",
         {{D7(10, 0), "a"}, {D7(10, 20), "b"}, {D7(10, 40), "c"}},
         {D7(9, 50), D7(10, 41)},
         [](Rig& t) {
             t.state.AgentSettings.Remind = 1;
             t.state.AgentSettings.AppointmentRemind = 25; // b's advance minute has passed
         },
         nullptr,
         {"16 10:00 : a", "64 10:40 : c", "16 10:20 : b", "16 10:40 : c"}},
        {"midnight while the log-in dialog of a Refresh is open",
         "AppointmentStartUp=1\r\n",
         "pw",
         {{D7(23, 59), "a"}, {D8(0, 1), "b"}},
         {D7(23, 58), D8(0, 3)},
         refresh,
         [D8](Rig& t) {
             if (t.desktop.ShowCount(WindowName::frmLogIn) == 2) {
                 t.clock.now = D8(0, 0, 30); // left open across midnight, the timer firing
                 t.agent.Timer1_Timer();
             }
             t.state.DatabasePassword = "pw";
         },
         {"16 23:59 : a", "16 00:01 : b"}},
    };
    for (const auto& c : cases) {
        Rig t;
        t.Settings(c.settings);
        t.diary.password = c.password;
        for (const auto& [when, subject] : c.rows)
            t.Appointment(when, subject);
        bool first = true;
        t.desktop.onBox = [&](const ShownBox&) {
            t.clock.now += seconds{1};
            if (std::exchange(first, false) && c.duringFirstBox)
                c.duringFirstBox(t);
            t.agent.Timer1_Timer();
        };
        t.desktop.onShow = [&](WindowName window, ShowMode) {
            if (window != WindowName::frmLogIn)
                return;
            if (c.duringLogIn)
                c.duringLogIn(t);
            else
                t.state.DatabasePassword = c.password;
        };
        t.clock.now = c.span.from;
        t.agent.Form_Load();
        for (t.clock.now = c.span.from; t.clock.now <= c.span.to; t.clock.now += seconds{1})
            t.agent.Timer1_Timer();
        EXPECT_EQ(t.Boxes(), c.boxes) << c.name;
        std::vector<std::string> subjects = t.Column(3);
        EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()).size(), subjects.size())
            << c.name << ": a row listed twice";
    }
}

} // namespace
} // namespace zurodid::testing
