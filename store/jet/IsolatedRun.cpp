#include "store/jet/IsolatedRun.h"

#include "platform/Files.h"
#include "platform/RuntimeError.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zurodid::jet {
namespace {

using Clock = std::chrono::steady_clock;

// The caller's address-space size now, so that the child's limit is "this much more".
std::uint64_t CurrentAddressSpace() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return 0;
    }
    unsigned long long pages = 0;
    const int read = std::fscanf(statm, "%llu", &pages);
    std::fclose(statm);
    return read == 1 ? pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

int gAgentStandardError = -1;

[[noreturn]] void RunChild(int writeFd, const std::function<void(const ByteSink&)>& work,
                           const IsolationLimits& limits, std::uint64_t addressSpace) {
    gAgentStandardError = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    // libmdb reports on stdout and stderr; nobody reads them here.
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
    }
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
    ::setrlimit(RLIMIT_CPU, &cpu);
    if (addressSpace > 0) {
        const rlim_t memory = addressSpace + limits.extraMemoryBytes;
        const rlimit space{memory, memory};
        ::setrlimit(RLIMIT_AS, &space);
    }
    work([writeFd](const char* data, std::size_t size) {
        return WriteAll(writeFd, std::string_view(data, size));
    });
    ::_exit(0);
}

// Kills (when still running) and reaps the child on every way out of RunIsolated.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid) : pid_(pid) {}
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    ~ChildGuard() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap();
        }
    }

    // Waits for the child's end until `deadline`; kills it then. The wait status.
    int WaitUntil(Clock::time_point deadline, bool& timedOut) {
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            if (done < 0 && errno != EINTR) {
                // Reaped by someone else (SIGCHLD ignored): the stream's own checks decide.
                pid_ = -1;
                return 0;
            }
            if (Clock::now() >= deadline) {
                timedOut = true;
                ::kill(pid_, SIGKILL);
                return Reap();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

private:
    int Reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

    pid_t pid_;
};

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() { Close(); }
    int Get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

[[noreturn]] void Fail(const std::string& what) {
    throw RuntimeError(ErrorNumber::DatabaseDamaged,
                       "The diary file could not be read: " + what + ".");
}

} // namespace

int AgentStandardErrorInChild() {
    return gAgentStandardError;
}

PageBuffer RunIsolated(const std::function<void(const ByteSink&)>& work,
                       const IsolationLimits& limits,
                       const std::function<void(PageBuffer&)>& received) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not start (no pipe).");
    }
    FdGuard readEnd(fds[0]);
    FdGuard writeEnd(fds[1]);
    const std::uint64_t addressSpace = CurrentAddressSpace();
    const auto deadline = Clock::now() + limits.wallClock;
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not start (no process).");
    }
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], work, limits, addressSpace);
    }
    ChildGuard child(pid);
    writeEnd.Close();

    PageBuffer out;
    std::size_t total = 0;
    constexpr std::size_t kPipeChunk = 64 * 1024;
    bool timedOut = false;
    bool tooLarge = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd readable{readEnd.Get(), POLLIN, 0};
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
        const ssize_t got =
            ::read(readEnd.Get(), out.data() + out.size(), out.capacity() - out.size());
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
        if (total > limits.maxOutputBytes) {
            tooLarge = true;
            break;
        }
        if (received) {
            received(out);
        }
    }
    readEnd.Close();
    const int status = child.WaitUntil(timedOut || tooLarge ? Clock::now() : deadline, timedOut);
    if (tooLarge) {
        Fail("the reader produced more data than the file can hold");
    }
    if (timedOut) {
        Fail("reading took longer than " + std::to_string(limits.wallClock.count()) + " ms");
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        Fail(signal == SIGXCPU || signal == SIGKILL
                 ? std::string("reading took too long")
                 : "the reader stopped on signal " + std::to_string(signal));
    }
    if (!WIFEXITED(status)) {
        Fail("the reader ended abnormally (wait status " + std::to_string(status) + ")");
    }
    if (WEXITSTATUS(status) != 0) {
        Fail("the reader ended with status " + std::to_string(WEXITSTATUS(status)));
    }
    return out;
}

} // namespace zurodid::jet
