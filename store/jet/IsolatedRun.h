#pragma once

#include "store/jet/ChildLimits.h"
#include "store/jet/PageBuffer.h"

#include <functional>

namespace zurodid::jet {

// What an isolated run gave: how its child ended, and what it wrote (whole only when Done).
struct IsolatedResult {
    ChildOutcome outcome;
    PageBuffer output;
};

// Hands `work` a sink for bytes and runs it in a child forked from this process, with the
// limits above; the bytes it wrote are received straight into pages of their own. After each
// piece arrives, `received` (when given) may take what it can use from the front of the
// buffer; what it raises is raised here, the child then killed. The child is always reaped.
// Only for a process without threads (the reader process, tests of the sandbox): a fork from a
// process with threads can hang the child on a lock another thread held.
IsolatedResult RunIsolated(const std::function<void(const ByteSink&)>& work,
                           const IsolationLimits& limits,
                           const std::function<void(PageBuffer&)>& received = {});

// Reads what a child writes into `readFd` until it closes it, `deadline` passes or it writes
// more than `maxBytes`; `received` as above.
struct PipeRead {
    PageBuffer out;
    std::size_t total = 0; // bytes read, those `received` took included
    bool timedOut = false;
    bool tooLarge = false;
};
PipeRead ReadChildOutput(int readFd, std::chrono::steady_clock::time_point deadline,
                         std::size_t maxBytes, const std::function<void(PageBuffer&)>& received);

} // namespace zurodid::jet
