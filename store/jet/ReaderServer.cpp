#include "store/jet/ReaderServer.h"

#include "platform/ChildProcess.h"
#include "store/jet/ReaderWire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zurodid::jet {
namespace {

using Clock = std::chrono::steady_clock;

struct Running {
    std::uint64_t tag;
    pid_t pid;
    int pidfd; // readable once the child has ended
    Clock::time_point deadline;
    bool killed = false;
    bool killedAtDeadline = false;
};

// Asks the kernel to kill this process when `parent` ends; false when it has ended already
// (the request came too late to take effect).
bool DieWith(pid_t parent) {
    return ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent;
}

void Kill(Running& child) {
    if (!child.killed) {
        // Not yet waited for, so the id is still this child's.
        ::kill(child.pid, SIGKILL);
        child.killed = true;
    }
}

[[noreturn]] void Leave(std::vector<Running>& running) {
    for (Running& child : running) {
        Kill(child);
        WaitForChild(child.pid);
    }
    ::_exit(0);
}

// Forks the child for `received`; false when none could be made.
bool Start(int socket, IsolatedWork work, const wire::Received& received,
           std::vector<Running>& running) {
    const wire::Request& request = received.request;
    const IsolationLimits limits = wire::LimitsOf(request);
    const std::uint64_t addressSpace = CurrentAddressSpace();
    const pid_t server = ::getpid();
    // Made before the fork: the child then allocates nothing of its own before its limits.
    const std::string first = received.input >= 0
                                  ? "/proc/self/fd/" + std::to_string(received.input)
                                  : std::string(request.first);
    const std::string second = request.second;
    std::string handedName = received.input >= 0 ? request.first : "";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!DieWith(server)) {
            ::_exit(1);
        }
        ::close(socket);
        SetNameOfHandedFile(std::move(handedName));
        for (const Running& other : running) {
            ::close(other.pidfd);
        }
        RunChild(
            received.output, [&](const ByteSink& sink) { work(first, second, sink); }, limits,
            addressSpace);
    }
    if (pid < 0) {
        return false;
    }
    // By the system call: Debian 12's glibc declares the wrapper without C linkage for C++.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        KillAndWaitForChild(pid);
        return false;
    }
    running.push_back({request.tag, pid, pidfd, Clock::now() + limits.wallClock});
    return true;
}

void Serve(int socket, IsolatedWork work, std::vector<Running>& running) {
    std::vector<pollfd> watched;
    for (;;) {
        watched.assign(1, pollfd{socket, POLLIN, 0});
        int timeout = -1;
        const auto now = Clock::now();
        for (const Running& child : running) {
            watched.push_back({child.pidfd, POLLIN, 0});
            if (!child.killed) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(child.deadline - now).count();
                const int wait = static_cast<int>(std::max<long long>(0, left));
                timeout = timeout < 0 ? wait : std::min(timeout, wait);
            }
        }
        const int ready = ::poll(watched.data(), watched.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            Leave(running);
        }
        // Ended children first, so that a cancel for one of them finds it gone.
        for (std::size_t i = running.size(); i-- > 0;) {
            if (ready <= 0 || (watched[i + 1].revents & POLLIN) == 0) {
                continue;
            }
            Running child = running[i];
            const int status = WaitForChild(child.pid);
            ::close(child.pidfd);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            if (!wire::Send(socket,
                            wire::Answer{child.tag, status,
                                         static_cast<std::uint8_t>(child.killedAtDeadline), 0})) {
                Leave(running);
            }
        }
        if (ready > 0 && watched[0].revents != 0) {
            auto received = wire::ReceiveRequest(socket);
            if (!received) {
                Leave(running); // the client has gone
            }
            if (received->request.kind == wire::Kind::Cancel) {
                for (Running& child : running) {
                    if (child.tag == received->request.tag) {
                        Kill(child);
                    }
                }
            } else {
                const bool started = Start(socket, work, *received, running);
                ::close(received->output);
                if (received->input >= 0) {
                    ::close(received->input);
                }
                if (!started && !wire::Send(socket, wire::Answer{received->request.tag, 0, 0, 1})) {
                    Leave(running);
                }
            }
        }
        const auto after = Clock::now();
        for (Running& child : running) {
            if (!child.killed && after >= child.deadline) {
                Kill(child);
                child.killedAtDeadline = true;
            }
        }
    }
}

} // namespace

void ServeReads(int socket, IsolatedWork work, void (*prepare)(), pid_t parent) noexcept {
    std::vector<Running> running;
    try {
        if (!DieWith(parent)) {
            ::_exit(0);
        }
        // Its children are its own to wait for, whatever it inherited.
        ::signal(SIGCHLD, SIG_DFL);
        if (prepare != nullptr) {
            prepare();
        }
        Serve(socket, work, running);
    } catch (...) {
        // Out of memory for its own lists: the client sees the socket close and starts another.
        Leave(running);
    }
    Leave(running);
}

} // namespace zurodid::jet
