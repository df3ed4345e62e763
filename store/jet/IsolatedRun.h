#pragma once

#include "store/jet/PageBuffer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

// Bounds on one isolated parse.
struct IsolationLimits {
    std::chrono::milliseconds wallClock{5000};
    unsigned cpuSeconds = 5;
    // On top of the caller's own size. A diary of 32,767 rows reads in under 16 MB; the
    // longest memo a row can state (a 24-bit length) takes at most 64 MB once converted. A
    // damaged file has been seen to make libmdb take 500 MB. Under
    // AddressSanitizer its own bookkeeping (quarantine, shadow) lives in the same space.
    std::uint64_t extraMemoryBytes = (kUnderAddressSanitizer ? 512ull : 128ull) * 1024 * 1024;
    std::size_t maxOutputBytes = 256ull * 1024 * 1024;
};

// Inside the child: the agent's standard error, for the one line a read has to say (the
// child's own standard error goes nowhere, as libmdb chatters on it); -1 elsewhere.
int AgentStandardErrorInChild();

// Hands `work` a sink for bytes and runs it in a child process (fork, no exec), with the
// limits above; returns the bytes it wrote, received straight into pages of their own. After
// each piece arrives, `received` (when given) may take what it can use from the front of the
// buffer. The child is always reaped. RuntimeError DatabaseDamaged when the child crashed, ran
// out of time or memory, or wrote too much; EngineFailure when no child could be started;
// whatever `received` raises, the child then killed.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;
PageBuffer RunIsolated(const std::function<void(const ByteSink&)>& work,
                       const IsolationLimits& limits,
                       const std::function<void(PageBuffer&)>& received = {});

// Work that can be run isolated by name: two texts say what to do (a file and a table).
using IsolatedWork = void (*)(const std::string& first, const std::string& second,
                              const ByteSink& sink);

// Makes the process that forks the children for `work` from now on. Made before the caller
// starts any thread, it keeps fork out of a process with threads, where a lock held by another
// thread at the fork could hang the child. False when it could not be made: runs then fork
// from the caller. A second call replaces the first server. `prepare`, when given, runs once in
// the server before it serves: what it loads, every child has from the start.
bool StartIsolationServer(IsolatedWork work, void (*prepare)() = nullptr);
void StopIsolationServer();

// Runs `work` as RunIsolated does, in a child of the server when it runs that work (and is
// still there), otherwise in a child of the caller.
PageBuffer RunIsolatedWork(IsolatedWork work, const std::string& first, const std::string& second,
                           const IsolationLimits& limits,
                           const std::function<void(PageBuffer&)>& received = {});

// A run of `work` started in a child of the server before anyone asks for its output: the
// child writes into an anonymous file of the caller's instead of a pipe, so it never waits for
// a reader, and its output waits there until taken (or the handle is let go: the child is then
// killed). Runs only in the server: by the time it is taken the caller may have threads.
class EarlyRun {
public:
    struct State;
    // Null when no server runs `work`, or it could not take the request.
    static std::shared_ptr<EarlyRun> Start(IsolatedWork work, const std::string& first,
                                           const std::string& second,
                                           const IsolationLimits& limits);
    explicit EarlyRun(std::shared_ptr<State> state) : state_(std::move(state)) {}
    EarlyRun(const EarlyRun&) = delete;
    EarlyRun& operator=(const EarlyRun&) = delete;
    ~EarlyRun();

    // Waits for the child's end (within its wall clock, counted from the start) and returns
    // what it wrote, as RunIsolatedWork does, `received` called as the output is read back;
    // RuntimeError as RunIsolatedWork raises. Once only.
    PageBuffer Take(const std::function<void(PageBuffer&)>& received = {});

private:
    std::shared_ptr<State> state_;
};

} // namespace zurodid::jet
