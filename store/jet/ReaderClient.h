#pragma once

#include "store/jet/IsolatedRun.h"

#include <memory>
#include <span>
#include <string>

namespace zurodid::jet {

// A work this executable can run in its reader process, by name.
struct NamedWork {
    const char* name;
    IsolatedWork work;
    void (*prepare)() = nullptr; // run once in the reader process before it serves
    // The first text names a file: the client opens it and hands the reader the descriptor,
    // so the reader reads the file the client saw, however long its name.
    bool firstIsFile = false;
};

// Called first thing in main. Started as a reader process (by this executable, spawned from
// itself with the flag below), this serves `works` and never returns. Otherwise it records them
// as the works this executable's reader processes can run, and returns.
inline constexpr const char* kReaderProcessFlag = "--zurodid-diary-reader";
void ServeReadsIfAsked(int argc, char** argv, std::span<const NamedWork> works);

// Spawns the reader process for `work` (this executable again, so no fork from a process with
// threads), replacing the one that runs. False when it could not be made, or `work` was not
// declared. A read starts one itself when none runs: one that dies is replaced at the next read,
// with a line in the log when it is lost and one when it is replaced. With `forkWhileAlone`,
// called while the process has no other thread, it is forked instead, without the exec.
bool StartIsolationServer(IsolatedWork work, bool forkWhileAlone = false);
void StopIsolationServer();

// Runs `work` in a child of the reader process, as RunIsolated does. In an executable that
// declared no reader (a test of the parts alone, without threads when it reads), in a child
// forked from the caller.
IsolatedResult RunIsolatedWork(IsolatedWork work, const std::string& first,
                               const std::string& second, const IsolationLimits& limits,
                               const std::function<void(PageBuffer&)>& received = {});

// A run of `work` started in the reader process before anyone asks for its output: the child
// writes into an anonymous file of the caller's instead of a pipe, so it never waits for a
// reader, and its output waits there until taken; let go untaken, it is cancelled.
class EarlyRun {
public:
    struct State;
    // Null when no reader process can run `work`, or it could not take the request.
    static std::shared_ptr<EarlyRun> Start(IsolatedWork work, const std::string& first,
                                           const std::string& second,
                                           const IsolationLimits& limits);
    explicit EarlyRun(std::unique_ptr<State> state);
    EarlyRun(const EarlyRun&) = delete;
    EarlyRun& operator=(const EarlyRun&) = delete;
    ~EarlyRun();

    // Waits for the child's end and returns what it wrote, as RunIsolatedWork does, `received`
    // called as the output is read back. Once only.
    IsolatedResult Take(const std::function<void(PageBuffer&)>& received = {});

private:
    std::unique_ptr<State> state_;
};

} // namespace zurodid::jet
