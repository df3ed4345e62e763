#include "store/jet/IsolatedRun.h"

#include "platform/Files.h"
#include "platform/RuntimeError.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

void OpenPipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not start (no pipe).");
    }
}

[[noreturn]] void Fail(const std::string& what) {
    throw RuntimeError(ErrorNumber::DatabaseDamaged,
                       "The diary file could not be read: " + what + ".");
}

} // namespace

int AgentStandardErrorInChild() {
    return gAgentStandardError;
}

namespace {

struct Received {
    PageBuffer out;
    bool timedOut = false;
    bool tooLarge = false;
};

// Reads what the child writes into `readFd` until it closes it, the deadline passes or it
// writes too much.
Received Receive(int readFd, Clock::time_point deadline, const IsolationLimits& limits,
                 const std::function<void(PageBuffer&)>& received) {
    Received result;
    PageBuffer& out = result.out;
    std::size_t total = 0;
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
        if (total > limits.maxOutputBytes) {
            result.tooLarge = true;
            break;
        }
        if (received) {
            received(out);
        }
    }
    return result;
}

void Judge(int status, bool timedOut, bool tooLarge, const IsolationLimits& limits) {
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
}

// The server: a process made before the caller has threads, which forks the children.
// Process-wide, as the process it stands for: one socket to it, one work it runs.
struct Server {
    int socket = -1;
    pid_t pid = -1;
    IsolatedWork work = nullptr;
    // Early runs whose answers are still to come, in the order they were asked for.
    std::deque<std::shared_ptr<EarlyRun::State>> early;
};
// The server is asked from whichever thread reads: its socket carries one request and its
// answers at a time.
std::mutex& ServerLock() {
    static std::mutex lock;
    return lock;
}

Server& TheServer() {
    static Server server;
    return server;
}

// One request: the work's two texts and the limits; the pipe (or file) to write to travels
// beside it.
struct Request {
    char first[4096];
    char second[512];
    std::int64_t wallClockMs;
    unsigned cpuSeconds;
    std::uint64_t extraMemoryBytes;
};

// Empty when the texts do not fit.
std::optional<Request> MakeRequest(const std::string& first, const std::string& second,
                                   const IsolationLimits& limits) {
    Request request{};
    if (first.size() >= sizeof request.first || second.size() >= sizeof request.second) {
        return std::nullopt;
    }
    std::memcpy(request.first, first.c_str(), first.size() + 1);
    std::memcpy(request.second, second.c_str(), second.size() + 1);
    request.wallClockMs = limits.wallClock.count();
    request.cpuSeconds = limits.cpuSeconds;
    request.extraMemoryBytes = limits.extraMemoryBytes;
    return request;
}
// The server's two answers to a request: the child's process id (0: none could be made), then
// its wait status.
struct Answer {
    std::int64_t value;
};

// One request as a socket message, with room for one descriptor beside it.
struct RequestMessage {
    explicit RequestMessage(Request& request) : part{&request, sizeof request} {
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    RequestMessage(const RequestMessage&) = delete;
    RequestMessage& operator=(const RequestMessage&) = delete;

    iovec part;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
};

bool SendRequest(int socket, Request& request, int fd) {
    RequestMessage sending(request);
    msghdr& message = sending.message;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request);
}

// A request and its pipe; false when the caller has gone.
bool ReceiveRequest(int socket, Request& request, int& fd) {
    RequestMessage receiving(request);
    msghdr& message = receiving.message;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (got != static_cast<ssize_t>(sizeof request) || header == nullptr ||
        header->cmsg_type != SCM_RIGHTS) {
        return false;
    }
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    request.first[sizeof request.first - 1] = '\0';
    request.second[sizeof request.second - 1] = '\0';
    return true;
}

bool SendAnswer(int socket, std::int64_t value) {
    const Answer answer{value};
    return ::send(socket, &answer, sizeof answer, MSG_NOSIGNAL) ==
           static_cast<ssize_t>(sizeof answer);
}

// An answer within `timeout`; empty when the server has gone or is silent.
std::optional<std::int64_t> ReceiveAnswer(int socket, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{socket, POLLIN, 0};
        const int ready =
            ::poll(&readable, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        Answer answer{};
        const ssize_t got = ::recv(socket, &answer, sizeof answer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != static_cast<ssize_t>(sizeof answer)) {
            return std::nullopt;
        }
        return answer.value;
    }
}

// Starts the child for `request` and lets go of its output: the child's process id, 0 when no
// child could be made.
pid_t StartChild(int socket, IsolatedWork work, const Request& request, int fd) {
    IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(request.wallClockMs);
    limits.cpuSeconds = request.cpuSeconds;
    limits.extraMemoryBytes = request.extraMemoryBytes;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(socket);
        const std::string first = request.first;
        const std::string second = request.second;
        RunChild(
            fd, [&](const ByteSink& sink) { work(first, second, sink); }, limits,
            CurrentAddressSpace());
    }
    ::close(fd);
    return child > 0 ? child : 0;
}

bool RequestWaiting(int socket) {
    pollfd readable{socket, POLLIN, 0};
    return ::poll(&readable, 1, 0) > 0;
}

[[noreturn]] void Serve(int socket, IsolatedWork work, void (*prepare)()) {
    // Its children are its own to wait for, whatever the caller inherited.
    ::signal(SIGCHLD, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (prepare != nullptr) {
        prepare();
    }
    // Every request that has come is started at once, so that the early reads of start-up run
    // side by side; the answers keep the order of the requests: a child's process id, then,
    // once it has ended, its wait status.
    std::deque<pid_t> running;
    const auto leave = [&running] {
        for (const pid_t child : running) {
            if (child > 0) {
                ::kill(child, SIGKILL);
            }
        }
        ::_exit(0);
    };
    for (;;) {
        while (running.empty() || RequestWaiting(socket)) {
            Request request{};
            int fd = -1;
            if (!ReceiveRequest(socket, request, fd)) {
                leave(); // the caller has gone
            }
            running.push_back(StartChild(socket, work, request, fd));
        }
        const pid_t child = running.front();
        if (!SendAnswer(socket, child)) {
            leave();
        }
        int status = 0;
        if (child > 0) {
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }
        running.pop_front();
        if (!SendAnswer(socket, status)) {
            leave();
        }
    }
}

} // namespace

// An early run as the caller sees it.
struct EarlyRun::State {
    int file = -1; // the anonymous file the child writes; -1 once read or let go
    IsolationLimits limits;
    Clock::time_point deadline;
    pid_t pid = -1;         // known once the server has said it
    bool noProcess = false; // the server could not fork
    bool settled = false;   // both answers taken: the child has ended
    bool timedOut = false;  // killed at its deadline
    bool unwanted = false;  // let go before it was taken
    int status = 0;
    ~State() {
        if (file >= 0) {
            ::close(file);
        }
    }
};

namespace {

void Forget(Server& server) {
    for (const auto& run : server.early) {
        if (run->pid > 0) {
            ::kill(run->pid, SIGKILL);
        }
    }
    server.early.clear();
    if (server.socket >= 0) {
        ::close(server.socket);
    }
    if (server.pid > 0) {
        ::kill(server.pid, SIGKILL);
        while (::waitpid(server.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    server = {};
}

// Takes the server's two answers about `run`: its child's process id, then, once the child
// has ended, its wait status. A child not ended by its deadline, or let go, is killed. False
// when the server has gone silent.
bool SettleEarlyRun(Server& server, EarlyRun::State& run) {
    if (run.pid < 0 && !run.noProcess) {
        const auto child = ReceiveAnswer(server.socket, run.limits.wallClock);
        if (!child) {
            return false;
        }
        run.noProcess = *child == 0;
        run.pid = run.noProcess ? -1 : static_cast<pid_t>(*child);
    }
    if (run.unwanted && run.pid > 0) {
        ::kill(run.pid, SIGKILL);
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(run.deadline - Clock::now());
    auto status = ReceiveAnswer(server.socket, std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        if (run.pid > 0) {
            ::kill(run.pid, SIGKILL);
        }
        run.timedOut = true;
        status = ReceiveAnswer(server.socket, std::chrono::seconds(run.limits.cpuSeconds + 2));
        if (!status) {
            return false;
        }
    }
    run.status = static_cast<int>(*status);
    run.settled = true;
    return true;
}

// Settles the early runs in the order they were asked for, up to `last` (all when null).
void SettleEarlyRuns(Server& server, const EarlyRun::State* last) {
    while (!server.early.empty()) {
        const auto run = server.early.front();
        if (!SettleEarlyRun(server, *run)) {
            Forget(server);
            return;
        }
        server.early.pop_front();
        if (run.get() == last) {
            return;
        }
    }
}

// In a child of the server; empty when the server could not take the request (it has gone),
// so that the caller runs the work itself.
std::optional<PageBuffer> RunInServer(Server& server, const std::string& first,
                                      const std::string& second, const IsolationLimits& limits,
                                      const std::function<void(PageBuffer&)>& received) {
    auto request = MakeRequest(first, second, limits);
    if (!request) {
        return std::nullopt;
    }
    // The answers to early runs come first.
    SettleEarlyRuns(server, nullptr);
    if (server.socket < 0) {
        return std::nullopt;
    }
    int fds[2];
    OpenPipe(fds);
    FdGuard readEnd(fds[0]);
    FdGuard writeEnd(fds[1]);
    const auto deadline = Clock::now() + limits.wallClock;
    if (!SendRequest(server.socket, *request, writeEnd.Get())) {
        Forget(server);
        return std::nullopt;
    }
    writeEnd.Close();
    const auto child = ReceiveAnswer(server.socket, limits.wallClock);
    if (!child) {
        Forget(server);
        return std::nullopt;
    }
    if (*child == 0) {
        // Its second answer (a wait status of nothing) is taken too, so that the next request
        // gets its own.
        if (!ReceiveAnswer(server.socket, limits.wallClock)) {
            Forget(server);
        }
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not start (no process).");
    }
    const auto pid = static_cast<pid_t>(*child);
    // The child ends within its own limits, and the server answers once it has: that answer
    // is taken on every way out, so that the next request gets its own.
    auto waitForEnd = [&]() -> std::optional<std::int64_t> {
        auto status = ReceiveAnswer(server.socket,
                                    limits.wallClock + std::chrono::seconds(limits.cpuSeconds + 2));
        if (!status) {
            ::kill(pid, SIGKILL);
            Forget(server);
        }
        return status;
    };
    Received got;
    try {
        got = Receive(readEnd.Get(), deadline, limits, received);
    } catch (...) {
        ::kill(pid, SIGKILL);
        waitForEnd();
        throw;
    }
    readEnd.Close();
    if (got.timedOut || got.tooLarge) {
        ::kill(pid, SIGKILL);
    }
    const auto status = waitForEnd();
    if (!status) {
        Fail("the reader did not end");
    }
    Judge(static_cast<int>(*status), got.timedOut, got.tooLarge, limits);
    return std::move(got.out);
}

} // namespace

PageBuffer RunIsolated(const std::function<void(const ByteSink&)>& work,
                       const IsolationLimits& limits,
                       const std::function<void(PageBuffer&)>& received) {
    int fds[2];
    OpenPipe(fds);
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

    Received got = Receive(readEnd.Get(), deadline, limits, received);
    readEnd.Close();
    bool timedOut = got.timedOut;
    const int status =
        child.WaitUntil(got.timedOut || got.tooLarge ? Clock::now() : deadline, timedOut);
    Judge(status, timedOut, got.tooLarge, limits);
    return std::move(got.out);
}

bool StartIsolationServer(IsolatedWork work, void (*prepare)()) {
    const std::lock_guard lock(ServerLock());
    Server& server = TheServer();
    Forget(server);
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        return false;
    }
    if (pid == 0) {
        ::close(sockets[0]);
        Serve(sockets[1], work, prepare);
    }
    ::close(sockets[1]);
    server = Server{sockets[0], pid, work, {}};
    return true;
}

void StopIsolationServer() {
    const std::lock_guard lock(ServerLock());
    Forget(TheServer());
}

PageBuffer RunIsolatedWork(IsolatedWork work, const std::string& first, const std::string& second,
                           const IsolationLimits& limits,
                           const std::function<void(PageBuffer&)>& received) {
    {
        const std::lock_guard lock(ServerLock());
        Server& server = TheServer();
        if (server.socket >= 0 && server.work == work) {
            if (auto out = RunInServer(server, first, second, limits, received)) {
                return std::move(*out);
            }
        }
    }
    return RunIsolated([&](const ByteSink& sink) { work(first, second, sink); }, limits, received);
}

std::shared_ptr<EarlyRun> EarlyRun::Start(IsolatedWork work, const std::string& first,
                                          const std::string& second,
                                          const IsolationLimits& limits) {
    const std::lock_guard lock(ServerLock());
    Server& server = TheServer();
    const auto request = MakeRequest(first, second, limits);
    if (server.socket < 0 || server.work != work || !request || limits.maxOutputBytes == 0) {
        return nullptr;
    }
    // As large as the output may grow and sealed there: a child that writes more gets an
    // error, not more memory.
    const int file = ::memfd_create("zurodid-early-run", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (file < 0) {
        return nullptr;
    }
    auto state = std::make_shared<State>();
    state->file = file;
    state->limits = limits;
    state->deadline = Clock::now() + limits.wallClock;
    if (::ftruncate(file, static_cast<off_t>(limits.maxOutputBytes)) != 0 ||
        ::fcntl(file, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        return nullptr;
    }
    auto sent = *request;
    if (!SendRequest(server.socket, sent, file)) {
        Forget(server);
        return nullptr;
    }
    server.early.push_back(state);
    return std::make_shared<EarlyRun>(std::move(state));
}

EarlyRun::~EarlyRun() {
    const std::lock_guard lock(ServerLock());
    // Unsettled, it stays queued for the server's answers; its child need not finish.
    state_->unwanted = true;
    if (state_->pid > 0 && !state_->settled) {
        ::kill(state_->pid, SIGKILL);
    }
    if (state_->file >= 0) {
        ::close(state_->file);
        state_->file = -1;
    }
}

PageBuffer EarlyRun::Take(const std::function<void(PageBuffer&)>& received) {
    State& run = *state_;
    if (run.file < 0) {
        Fail("its output was taken already");
    }
    FdGuard file(run.file);
    run.file = -1;
    if (!run.settled) {
        const std::lock_guard lock(ServerLock());
        SettleEarlyRuns(TheServer(), &run);
    }
    if (!run.settled) {
        Fail("the reader did not end");
    }
    if (run.noProcess) {
        throw RuntimeError(ErrorNumber::EngineFailure,
                           "The diary reader could not start (no process).");
    }
    Judge(run.status, run.timedOut, false, run.limits);
    // The child's writes moved the file offset it shares with this descriptor.
    const off_t written = ::lseek(file.Get(), 0, SEEK_CUR);
    if (written < 0) {
        Fail("its output cannot be read back");
    }
    const auto size = static_cast<std::size_t>(written);
    Judge(0, false, size >= run.limits.maxOutputBytes, run.limits);
    constexpr std::size_t kChunk = 64 * 1024;
    PageBuffer out;
    // Room for all of it at once (pages are used only as they are written): the buffer is
    // never moved while it grows.
    out.ReserveTail(size);
    // `received` may take bytes from the front of `out`: the place in the file is kept apart.
    for (std::size_t done = 0; done < size;) {
        out.ReserveTail(std::min(kChunk, size - done));
        const std::size_t want = std::min(size - done, out.capacity() - out.size());
        const ssize_t got =
            ::pread(file.Get(), out.data() + out.size(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            Fail("its output cannot be read back");
        }
        done += static_cast<std::size_t>(got);
        out.Resize(out.size() + static_cast<std::size_t>(got));
        if (received) {
            received(out);
        }
    }
    return out;
}

} // namespace zurodid::jet
