#pragma once

#include "agent/Desktop.h"
#include "agent/TrayIconRecord.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zurodid::testing {

// Thrown by the fake's EndProcess: the agent's process would be gone.
struct ProcessEnded {};

struct ShownBox {
    std::string text;
    int icon;
    std::string title;
};

struct StartedProgram {
    std::filesystem::path program;
    std::vector<std::string> arguments;
};

// Records what the agent and the windows ask of the desktop.
class FakeDesktop : public Desktop {
public:
    void RegisterTrayIcon(const TrayIconRecordA& record) override {
        registrations.push_back(record);
    }
    void Show(WindowName window, ShowMode mode) override {
        shown.emplace_back(window, mode);
        if (onShow)
            onShow(window, mode);
    }
    void MsgBox(std::string_view text, int icon, std::string_view title) override {
        boxes.push_back({std::string(text), icon, std::string(title)});
        if (onBox)
            onBox(boxes.back());
    }
    void EnableTimer() override { ++timerEnabled; }
    void NextTickAt(std::optional<DateTime> wallTime) override { nextTicks.push_back(wallTime); }
    void WakeTimer() override {
        ++timerWakes;
        if (onWake)
            onWake();
    }
    void WatchForChange(std::optional<std::filesystem::path> file) override {
        watched = std::move(file);
    }
    void PopupMenu() override { ++menusOpened; }
    double TwipsPerPixelX() override { return twipsPerPixel; }
    StartOutcome StartProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) override {
        started.push_back({program, arguments});
        return startOutcome;
    }
    // The real one does not return. Inside a Qt handler a throw cannot pass, so a widget test
    // has it counted and returning instead.
    void EndProcess() override {
        ++endProcessCalls;
        if (endProcessThrows)
            throw ProcessEnded{};
    }

    int ShowCount(WindowName window) const {
        int count = 0;
        for (const auto& [name, mode] : shown)
            count += name == window;
        return count;
    }

    std::vector<TrayIconRecordA> registrations;
    std::vector<std::pair<WindowName, ShowMode>> shown;
    std::vector<ShownBox> boxes;
    std::vector<StartedProgram> started;
    int timerEnabled = 0;
    std::vector<std::optional<DateTime>> nextTicks; // nullopt: in a second
    int timerWakes = 0;
    std::optional<std::filesystem::path> watched;
    int menusOpened = 0;
    int endProcessCalls = 0;
    bool endProcessThrows = true;
    double twipsPerPixel = 15;
    StartOutcome startOutcome{true, {}};
    std::function<void(WindowName, ShowMode)> onShow;
    std::function<void(const ShownBox&)> onBox;
    std::function<void()> onWake;
};

// A clock that stands still until a test moves it; each reading can also move it.
class FakeClock : public Clock {
public:
    FakeClock() = default;
    explicit FakeClock(DateTime start) : now(start) {}

    DateTime Now() override {
        DateTime value = now;
        ++readings;
        if (onRead)
            onRead(*this);
        return value;
    }
    void Set(DateTime value) { now = value; }

    DateTime now{};
    int readings = 0;
    std::function<void(FakeClock&)> onRead;
};

// A local date and time of day.
inline DateTime At(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    using namespace std::chrono;
    return MakeDateTime(year{y} / month{m} / day{d}, hours{hh} + minutes{mm} + seconds{ss});
}

} // namespace zurodid::testing
