#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace zurodid::jet {

// Bounds on one isolated parse.
struct IsolationLimits {
    std::chrono::milliseconds wallClock{5000};
    unsigned cpuSeconds = 5;
    std::uint64_t extraMemoryBytes = 512ull * 1024 * 1024; // on top of the caller's own size
    std::size_t maxOutputBytes = 256ull * 1024 * 1024;
};

// Hands `work` a sink for bytes and runs it in a child process (fork, no exec), with the
// limits above; returns the bytes it wrote. The child is always reaped. RuntimeError
// DatabaseDamaged when the child crashed, ran out of time or memory, or wrote too much;
// EngineFailure when no child could be started.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;
std::string RunIsolated(const std::function<void(const ByteSink&)>& work,
                        const IsolationLimits& limits);

} // namespace zurodid::jet
