#pragma once

#include "platform/ProfileFile.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace zurodid {

inline constexpr std::string_view kSettingsFileName = "Zurodid.ini";
inline constexpr std::size_t kProfileReturnField = 20;

// Module1: the settings file routines, Zurodid.ini in the folder that `folder` reports at each call
// (the executable's folder in the agent, a temporary folder in tests).
class Module1 {
public:
    using FolderSource = std::function<std::filesystem::path()>;
    explicit Module1(FolderSource folder) : folder_(std::move(folder)) {}

    std::filesystem::path SettingsPath() const;

    // The 20-character return field: the stored value cut to 19 characters (or the empty
    // default), then NUL characters up to the 20th. UTF-8 out; the file is Windows-874.
    std::string ReadINI(std::string_view section, std::string_view key) const;

    // Stores `value` under `key`. Silent by design for the start-up and dialog steps; the
    // outcome is there for a caller that wants to tell the user.
    WriteOutcome WriteINI(std::string_view section, std::string_view key,
                          std::string_view value) const;

    // Removes what a save killed half-way left beside the settings file (at start-up).
    void RemoveUnfinishedWrites() const;

private:
    FolderSource folder_;
    mutable int lastReadError_ = 0; // the last reading's error, logged once
};

} // namespace zurodid
