#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zurodid {

class Module1;

inline constexpr std::string_view kSettingsSection = "Agent";

// The five settings, 0 until first read.
struct AgentSettings {
    std::int16_t StartUpRemind = 0;      // exactly 1: show the list window at start-up
    std::int16_t AnniversaryStartUp = 0; // days ahead for anniversaries
    std::int16_t AppointmentStartUp = 0; // days ahead for appointments
    std::int16_t Remind = 0;             // exactly 1: advance reminders on
    std::int16_t AppointmentRemind = 0;  // minutes of the advance reminder's lead
};

// The keys in the order they are read and written, with the member each one fills.
struct SettingKey {
    std::string_view name;
    std::int16_t AgentSettings::*member;
};
inline constexpr std::array<SettingKey, 5> kSettingKeys{{
    {"StartUpRemind", &AgentSettings::StartUpRemind},
    {"AnniversaryStartUp", &AgentSettings::AnniversaryStartUp},
    {"AppointmentStartUp", &AgentSettings::AppointmentStartUp},
    {"Remind", &AgentSettings::Remind},
    {"AppointmentRemind", &AgentSettings::AppointmentRemind},
}};

// One key's start-up reading: ReadINI, the numeric value of the text, rounded half to even;
// raises RuntimeError(ErrorNumber::Overflow) outside -32768..32767.
std::int16_t ReadSetting(const Module1& module1, std::string_view key);

} // namespace zurodid
