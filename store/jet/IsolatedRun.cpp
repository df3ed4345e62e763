#include "store/jet/IsolatedRun.h"

#include "platform/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zurodid::jet {
namespace {

using Clock = std::chrono::steady_clock;

// Kills (when still running) and reaps the child on every way out of RunIsolated. It is this
// process's own child and not yet waited for, so its id cannot have been reused.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid) : pid_(pid) {}
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    ~ChildGuard() {
        if (pid_ > 0) {
            KillAndWaitForChild(pid_);
        }
    }

    // Waits for the child's end until `deadline`; kills it then. The wait status.
    int WaitUntil(Clock::time_point deadline, bool& killedAtDeadline) {
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            if (done < 0 && errno != EINTR) {
                // Reaped by the system (SIGCHLD ignored): the stream's own checks decide.
                pid_ = -1;
                return 0;
            }
            if (Clock::now() >= deadline) {
                killedAtDeadline = true;
                ::kill(pid_, SIGKILL);
                status = WaitForChild(pid_);
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

private:
    pid_t pid_;
};

} // namespace

PipeRead ReadChildOutput(int readFd, Clock::time_point deadline, std::size_t maxBytes,
                         const std::function<void(PageBuffer&)>& received) {
    PipeRead result;
    PageBuffer& out = result.out;
    std::size_t& total = result.total;
    constexpr std::size_t kPipeChunk = 64 * 1024;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd readable{readFd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            continue; // the deadline check above ends the wait
        }
        out.ReserveTail(kPipeChunk);
        const ssize_t got = ::read(readFd, out.data() + out.size(), out.capacity() - out.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            break;
        }
        if (got == 0) {
            break;
        }
        out.Resize(out.size() + static_cast<std::size_t>(got));
        total += static_cast<std::size_t>(got);
        if (total > maxBytes) {
            result.tooLarge = true;
            break;
        }
        if (received) {
            received(out);
        }
    }
    return result;
}

IsolatedResult RunIsolated(const std::function<void(const ByteSink&)>& work,
                           const IsolationLimits& limits,
                           const std::function<void(PageBuffer&)>& received) {
    Pipe pipe = MakePipe();
    if (!pipe.read.Valid()) {
        return {{ChildEnd::NoProcess, "no pipe"}, {}};
    }
    const std::uint64_t addressSpace = CurrentAddressSpace();
    const auto deadline = Clock::now() + limits.wallClock;
    const pid_t pid = ::fork();
    if (pid < 0) {
        return {{ChildEnd::NoProcess, "no process"}, {}};
    }
    if (pid == 0) {
        RunChild(pipe.write.Get(), work, limits, addressSpace);
    }
    ChildGuard child(pid);
    pipe.write.Reset();

    PipeRead got = ReadChildOutput(pipe.read.Get(), deadline, limits.maxOutputBytes, received);
    pipe.read.Reset();
    bool killedAtDeadline = got.timedOut;
    const int status =
        child.WaitUntil(got.timedOut || got.tooLarge ? Clock::now() : deadline, killedAtDeadline);
    return {VerdictOf(status, killedAtDeadline, got.tooLarge), std::move(got.out)};
}

} // namespace zurodid::jet
