#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace zurodid {

// The agent's diagnostics: one line on standard error for each failure that the user is not
// shown (a start-up step that stops, a fill that ends on an error, a settings file that cannot
// be read or written, a program that cannot start), so that a bug report can say why the icon
// stays idle. Nothing else is written in normal running, and no caller passes a password.
//
//   zurodid-agent: opening the diary: error 3024: Could not find file: /home/u/Zurodid.mdb
void LogFailure(std::string_view what, int errorNumber, std::string_view errorText,
                const std::filesystem::path& file = {});

// One line for a failure that has ended (the diary could be read again), so that the log tells
// how long the agent went without it.
void LogRecovery(std::string_view what, const std::filesystem::path& file = {});

// The line LogFailure writes, without its line break.
std::string FailureLine(std::string_view what, int errorNumber, std::string_view errorText,
                        const std::filesystem::path& file);

// Where the lines go instead of standard error while a test looks at them; an empty sink
// restores standard error.
using LogSink = std::function<void(std::string_view line)>;
void SetLogSink(LogSink sink);

} // namespace zurodid
