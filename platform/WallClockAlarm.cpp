#include "platform/WallClockAlarm.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace zurodid {
namespace {

long OffsetAt(std::time_t instant) {
    std::tm local{};
    localtime_r(&instant, &local);
    return local.tm_gmtoff;
}

// The descriptor that SIGCONT's handler writes to; one alarm at a time owns it.
std::atomic<int> continuedDescriptor{-1};
struct sigaction previousContinueAction {};

void OnContinued(int) {
    const int saved = errno;
    const int descriptor = continuedDescriptor.load();
    if (descriptor >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(descriptor, &one, sizeof one);
    }
    errno = saved;
}

// With nothing to wait for, the timer still stands, far ahead, so that the kernel can cancel
// it when the clock is set.
constexpr std::time_t kFarAhead = 400 * 24 * 3600;

void Close(int& descriptor) {
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

} // namespace

std::time_t WhenLocalClockReaches(DateTime target, std::time_t now) {
    const long long targetLocal = target.time_since_epoch().count();
    const long offset = OffsetAt(now);
    if (now + offset >= targetLocal)
        return now;
    const std::time_t when = static_cast<std::time_t>(targetLocal - offset);
    if (OffsetAt(when) == offset)
        return when;
    // The offset changes on the way: find the first second of the new one.
    std::time_t before = now;
    std::time_t after = when;
    while (after - before > 1) {
        const std::time_t middle = before + (after - before) / 2;
        (OffsetAt(middle) == offset ? before : after) = middle;
    }
    return after;
}

WallClockAlarm::WallClockAlarm(const std::filesystem::path& zoneFolder) {
    poll_ = epoll_create1(EPOLL_CLOEXEC);
    if (poll_ < 0) {
        makeError_ = errno;
        return;
    }
    auto watch = [this](int descriptor) {
        if (descriptor < 0)
            return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = descriptor;
        epoll_ctl(poll_, EPOLL_CTL_ADD, descriptor, &event);
    };
    timer_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0)
        makeError_ = errno;
    ArmTimer(std::time(nullptr) + kFarAhead);
    watch(timer_);

    // Without a watch the zone is still taken at the next wake.
    zone_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (zone_ >= 0 && inotify_add_watch(zone_, zoneFolder.c_str(),
                                        IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE) < 0)
        Close(zone_);
    watch(zone_);

    int expected = -1;
    continued_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (continued_ >= 0 && continuedDescriptor.compare_exchange_strong(expected, continued_)) {
        struct sigaction action {};
        action.sa_handler = OnContinued;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGCONT, &action, &previousContinueAction);
    } else {
        Close(continued_);
    }
    watch(continued_);
}

WallClockAlarm::~WallClockAlarm() {
    if (continued_ >= 0) {
        sigaction(SIGCONT, &previousContinueAction, nullptr);
        continuedDescriptor.store(-1);
    }
    Close(continued_);
    Close(zone_);
    Close(timer_);
    Close(poll_);
}

void WallClockAlarm::ArmTimer(std::time_t when) {
    if (timer_ < 0)
        return;
    itimerspec spec{};
    spec.it_value.tv_sec = when;
    // An instant already passed fires at once; zero would disarm the timer.
    if (spec.it_value.tv_sec <= 0)
        spec.it_value.tv_sec = 1;
    timerfd_settime(timer_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr);
}

void WallClockAlarm::SetFor(std::time_t when) {
    when_ = when;
    set_ = true;
    ArmTimer(when);
}

void WallClockAlarm::Clear() {
    set_ = false;
    ArmTimer(std::time(nullptr) + kFarAhead);
}

unsigned WallClockAlarm::TakeEvents() {
    unsigned events = 0;
    if (timer_ >= 0) {
        std::uint64_t expirations = 0;
        if (read(timer_, &expirations, sizeof expirations) == sizeof expirations) {
            if (set_)
                events |= Reached;
            set_ = false;
            ArmTimer(std::time(nullptr) + kFarAhead);
        } else if (errno == ECANCELED) {
            events |= ClockChanged;
            // Cancelled timers stay cancelled until set again.
            ArmTimer(set_ ? when_ : std::time(nullptr) + kFarAhead);
        }
    }
    if (zone_ >= 0) {
        alignas(inotify_event) std::array<char, 4096> buffer;
        ssize_t length;
        while ((length = read(zone_, buffer.data(), buffer.size())) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                const std::string_view name = event->len ? event->name : "";
                if (name == "localtime" || name == "timezone")
                    events |= ZoneChanged;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
    if (continued_ >= 0) {
        std::uint64_t count = 0;
        if (read(continued_, &count, sizeof count) == sizeof count)
            events |= Continued;
    }
    return events;
}

} // namespace zurodid
