#pragma once

#include <stdexcept>
#include <string>

namespace zurodid {

// Error numbers as the diary's engine and runtime report them; the handlers of the agent and
// the list window branch on these numbers.
namespace ErrorNumber {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int ObjectNotSet = 91;
inline constexpr int InvalidUseOfNull = 94;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int EngineFailure = 3000;
inline constexpr int NoCurrentRecord = 3021;
inline constexpr int FileNotFound = 3024;
inline constexpr int NotValidPassword = 3031;
inline constexpr int DatabaseDamaged = 3049;
inline constexpr int TableNotFound = 3078;
inline constexpr int RecordDeleted = 3167;
// The diary program is saving the diary: it kept changing for as long as a read may wait.
// Worth trying again soon, unlike a damaged file.
inline constexpr int DiaryBusy = 3260;
inline constexpr int UnrecognizedFormat = 3343;
inline constexpr int IndexOutOfBounds = 35600;
} // namespace ErrorNumber

// The one exception type of the system: a numbered runtime error.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int Number() const noexcept { return number_; }

private:
    int number_;
};

} // namespace zurodid
