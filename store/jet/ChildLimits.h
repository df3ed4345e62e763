#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace zurodid::jet {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadSanitizer = true;
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

// Bounds on one isolated parse.
struct IsolationLimits {
    std::chrono::milliseconds wallClock{5000};
    unsigned cpuSeconds = 5;
    // On top of the size of the process the child is forked from. A diary of 32,767 rows
    // reads in under 16 MB; the longest memo a row can state (a 24-bit length) takes at most
    // 64 MB once converted. A damaged file has been seen to make libmdb take 500 MB. Under
    // AddressSanitizer its own bookkeeping (quarantine, shadow) lives in the same space.
    std::uint64_t extraMemoryBytes = (kUnderAddressSanitizer ? 512ull : 128ull) * 1024 * 1024;
    std::size_t maxOutputBytes = 256ull * 1024 * 1024;
};

// Where a child's work writes its bytes; false once they cannot be taken.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// Work that a reader process runs by name: two texts say what to do (a file and a table).
using IsolatedWork = void (*)(const std::string& first, const std::string& second,
                              const ByteSink& sink);

// How a child ended, in the sandbox's own words: what it means for a diary read is the
// engine's to say.
enum class ChildEnd {
    Done,          // ended by itself with success; its output is whole
    Crashed,       // a signal, an exception that escaped the work, or a status of failure
    TimedOut,      // past its wall clock or its processor time
    TooMuchOutput, // wrote more than its output may hold
    TooMuchMemory, // asked for more memory than its limit
    NoProcess,     // none could be started, or the process that ran it was lost
};

struct ChildOutcome {
    ChildEnd end = ChildEnd::Done;
    std::string detail; // for the log: what was seen
};

// Inside the child: the agent's standard error, for the one line a read has to say (the
// child's own standard error goes nowhere, as libmdb chatters on it); -1 elsewhere.
int AgentStandardErrorInChild();

// Inside a reader process's child: the name the client knows the file by that it handed over
// as a descriptor (the work opens it by another), for what the child says; empty elsewhere.
const std::string& NameOfHandedFile();
void SetNameOfHandedFile(std::string name);

// The size of this process's address space now, so that a child's limit is "this much more".
std::uint64_t CurrentAddressSpace();

// Runs in a child just forked: sets the limits, runs `work` with a sink into `outputFd` and
// ends the process with the work's own outcome. Never returns into the code that forked, not
// even when the work throws.
[[noreturn]] void RunChild(int outputFd, const std::function<void(const ByteSink&)>& work,
                           const IsolationLimits& limits, std::uint64_t addressSpace) noexcept;

// The verdict on a child from its wait status and what its parent did or saw: killed at the
// deadline, or stopped for writing too much.
ChildOutcome VerdictOf(int waitStatus, bool killedAtDeadline, bool tooMuchOutput);

} // namespace zurodid::jet
