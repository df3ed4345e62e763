// The reminder timer on Qt when the kernel's help is missing or a read keeps failing.
#include "agent/AgentFixture.h"
#include "support/LogCapture.h"
#include "windows/desktop/QtDesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace zurodid::testing {
namespace {

bool Spin(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A QtDesktop made while the process may open no more descriptors: no epoll, no timerfd.
std::unique_ptr<QtDesktop> DesktopWithoutAlarm() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_NOFILE, &limit);
    auto desktop = std::make_unique<QtDesktop>(QIcon());
    setrlimit(RLIMIT_NOFILE, &saved);
    return desktop;
}

TEST(ReminderTimer, WithoutAWallClockAlarmItStillWakesAtLeastOnceAMinute) {
    LogCapture log;
    auto desktop = DesktopWithoutAlarm();
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("making the wall-clock alarm, the reminder timer wakes every "
                                "minute instead: error 24:"),
              std::string::npos)
        << log.lines[0];
    desktop->EnableTimer();
    const DateTime now = LocalNow();
    struct Case {
        std::chrono::seconds ahead;
        int atLeastMs, atMostMs;
    };
    const Case cases[] = {{std::chrono::hours{5}, 55'000, 60'000},
                          {std::chrono::seconds{20}, 15'000, 20'000}};
    for (const Case& c : cases) {
        desktop->NextTickAt(now + c.ahead);
        ASSERT_TRUE(desktop->MinuteTimer().isActive()) << c.ahead.count();
        EXPECT_GE(desktop->MinuteTimer().remainingTime(), c.atLeastMs) << c.ahead.count();
        EXPECT_LE(desktop->MinuteTimer().remainingTime(), c.atMostMs) << c.ahead.count();
    }
}

// A read that fails is tried again when the diary comes, not only at the minute's try.
TEST(ReminderTimer, ADiaryThatAppearsWhileReadsFailIsReadOnceItRests) {
    LogCapture log;
    TempFolder folder;
    FakeDiary diary;
    diary.tables["Anniversary"];
    diary.tables["Appointment"].rows = {
        {Variant{LocalNow() + std::chrono::minutes{5}}, Variant{std::string("a")}}};
    diary.failOpen = ErrorNumber::DatabaseDamaged;
    FakeClock clock{LocalNow()}; // the alarm that plans the minute's try runs on the real clock
    ProcessState state([&folder] { return folder.Path(); }, std::make_shared<FakeEngine>(diary));
    QtDesktop desktop{QIcon()};
    frmAgent agent(state, desktop, clock);
    desktop.Attach(agent, [](WindowName, ShowMode) {});
    agent.Form_Load();
    ASSERT_EQ(agent.lvAppointment.ListItems.Count(), 0);
    // The first tick plans the next try a minute on.
    ASSERT_TRUE(Spin([&] { return !desktop.Timer1().isActive(); }, 5000));

    diary.failOpen.reset();
    WriteBytes(folder / "Zurodid.mdb", "the diary's program saved it");
    EXPECT_TRUE(Spin([&] { return agent.lvAppointment.ListItems.Count() == 1; }, 10'000))
        << "read again once the new file rested, well before the minute's try";
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[1].find("the diary was read again"), std::string::npos);
}

} // namespace
} // namespace zurodid::testing
