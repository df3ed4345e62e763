#pragma once

#include "agent/frmAgent.h"
#include "support/AgentTestAccess.h"
#include "support/FakeDesktop.h"
#include "support/FakeDiary.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace zurodid::testing {

inline Variant Date(int y, unsigned m, unsigned d, int hh = 0, int mm = 0) {
    return Variant{At(y, m, d, hh, mm)};
}

// The agent over a fake desktop, a fake clock and an in-memory diary in a temporary folder.
struct AgentRig {
    AgentRig()
        : state([this] { return folder.Path(); }, std::make_shared<FakeEngine>(diary)),
          agent(state, desktop, clock) {
        diary.tables["Anniversary"];
        diary.tables["Appointment"];
        clock.now = At(2026, 12, 7, 9, 0);
    }

    void Settings(std::string_view lines) {
        WriteBytes(folder / "Zurodid.ini", "[Agent]\r\n" + std::string(lines));
    }
    void Appointments(std::vector<std::vector<Variant>> rows) {
        diary.tables["Appointment"].rows = std::move(rows);
    }
    void Appointment(DateTime when, std::string subject) {
        diary.tables["Appointment"].rows.push_back({Variant{when}, Variant{std::move(subject)}});
    }
    std::vector<std::string> Column(int subItem) {
        std::vector<std::string> out;
        for (int k = 1; k <= agent.lvAppointment.ListItems.Count(); ++k)
            out.push_back(subItem == 0 ? agent.lvAppointment.ListItems.Item(k).Text()
                                       : agent.lvAppointment.ListItems.Item(k).SubItems(subItem));
        return out;
    }
    // Each box shown so far as "<icon flag> <text>".
    std::vector<std::string> Boxes() {
        std::vector<std::string> out;
        for (const auto& box : desktop.boxes)
            out.push_back(std::to_string(box.icon) + " " + box.text);
        return out;
    }

    TempFolder folder;
    FakeDiary diary;
    FakeDesktop desktop;
    FakeClock clock;
    ProcessState state;
    frmAgent agent;
};

class AgentFixture : public ::testing::Test, public AgentRig {};

} // namespace zurodid::testing
