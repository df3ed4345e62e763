#include "store/jet/ReaderClient.h"

#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/RuntimeError.h"
#include "store/jet/ReaderServer.h"
#include "store/jet/ReaderWire.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zurodid::jet {
namespace {

using Clock = std::chrono::steady_clock;

// The descriptor the reader process finds its socket on.
constexpr int kReaderSocketFd = 3;
// The reader process ends a child at its wall clock; this is how much longer its answer may
// take before the process counts as lost.
constexpr std::chrono::seconds kAnswerGrace{3};

// The works this executable declared; written once in main, before any thread.
std::vector<NamedWork>& DeclaredWorks() {
    static std::vector<NamedWork> works;
    return works;
}

const NamedWork* Declared(IsolatedWork work) {
    for (const NamedWork& named : DeclaredWorks()) {
        if (named.work == work) {
            return &named;
        }
    }
    return nullptr;
}

// The client's side of one reader process: process-wide, as the process it stands for. Its
// socket carries requests and tagged answers; an answer that comes while another is awaited
// waits in `stashed`.
struct Link {
    int socket = -1;
    pid_t pid = -1; // spawned by this process, which alone waits for it
    IsolatedWork work = nullptr;
    std::uint64_t generation = 0; // counts the processes spawned
    std::uint64_t nextTag = 1;
    std::map<std::uint64_t, wire::Answer> stashed;
    std::set<std::uint64_t> unwanted; // cancelled runs whose answers are dropped
    bool replacing = false;           // one was lost: the next one is its replacement
};

std::mutex& LinkLock() {
    static std::mutex lock;
    return lock;
}

Link& TheLink() {
    static Link link;
    return link;
}

void Close(Link& link) {
    if (link.socket >= 0) {
        ::close(link.socket);
    }
    if (link.pid > 0) {
        // Its children die with it.
        KillAndWaitForChild(link.pid);
    }
    Link closed;
    closed.generation = link.generation;
    closed.nextTag = link.nextTag;
    closed.replacing = link.replacing;
    link = std::move(closed);
}

void Lose(Link& link, const std::string& how) {
    Close(link);
    link.replacing = true;
    LogFailure("the diary reader process", ErrorNumber::EngineFailure,
               how + "; another is started for the next read");
}

// True when the calling thread is this process's only one, so that a fork copies all of it.
bool OnlyThread() {
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return false;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(tasks)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(tasks);
    return count == 1;
}

// The reader process as a fork of this one, when it has no other thread: it has the libraries
// loaded already, where an exec loads and links them again. -1 when it is not so.
pid_t ForkWhileAlone(const NamedWork& named, int socket) {
    if (!OnlyThread()) {
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // As the exec'd one: its socket on its descriptor, nothing else of this process's.
        if (::dup2(socket, kReaderSocketFd) < 0 ||
            ::close_range(kReaderSocketFd + 1, ~0U, 0) != 0) {
            ::_exit(2);
        }
        ServeReads(kReaderSocketFd, named.work, named.prepare, parent);
    }
    return pid;
}

bool Spawn(Link& link, const NamedWork& named, bool forkWhileAlone = false) {
    Close(link);
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        return false;
    }
    if (const pid_t forked = forkWhileAlone ? ForkWhileAlone(named, sockets[1]) : -1; forked > 0) {
        ::close(sockets[1]);
        link.socket = sockets[0];
        link.pid = forked;
        link.work = named.work;
        ++link.generation;
        return true;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], kReaderSocketFd);
    const std::string parent = std::to_string(::getpid());
    std::string self = "/proc/self/exe";
    std::string flag = kReaderProcessFlag;
    std::string name = named.name;
    std::string parentText = parent;
    char* argv[] = {self.data(), flag.data(), name.data(), parentText.data(), nullptr};
    pid_t pid = -1;
    // The running executable itself, even when its file has been replaced since it started.
    const int error = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (error != 0) {
        ::close(sockets[0]);
        return false;
    }
    link.socket = sockets[0];
    link.pid = pid;
    link.work = named.work;
    ++link.generation;
    if (link.replacing) {
        link.replacing = false;
        LogRecovery("the diary reader process was replaced");
    }
    return true;
}

bool Ensure(Link& link, const NamedWork& named) {
    return (link.socket >= 0 && link.work == named.work) || Spawn(link, named);
}

// The answer to `tag` within `timeout`; empty when the process is silent or gone.
std::optional<wire::Answer> AwaitAnswer(Link& link, std::uint64_t tag,
                                        std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto found = link.stashed.find(tag); found != link.stashed.end()) {
            const wire::Answer answer = found->second;
            link.stashed.erase(found);
            return answer;
        }
        const auto left = std::max(
            std::chrono::milliseconds(0),
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        const auto answer = wire::ReceiveAnswer(link.socket, left);
        if (!answer) {
            return std::nullopt;
        }
        if (answer->tag == tag) {
            return answer;
        }
        if (link.unwanted.erase(answer->tag) == 0) {
            link.stashed.emplace(answer->tag, *answer);
        }
    }
}

void Cancel(Link& link, std::uint64_t tag) {
    wire::Request cancel;
    cancel.kind = wire::Kind::Cancel;
    cancel.tag = tag;
    wire::Send(link.socket, cancel, -1, -1);
}

IsolatedResult NoProcess(std::string detail) {
    return {{ChildEnd::NoProcess, std::move(detail)}, {}};
}

// The input file of a run, opened here: -1 when the work takes no file or it cannot be opened
// (the child then meets the name and says why).
int OpenInput(const NamedWork& named, const std::string& first) {
    return named.firstIsFile ? OpenRegularFileForReading(first).fd : -1;
}

struct Sent {
    std::uint64_t tag = 0;
    bool ok = false;
};

// Sends a run to the reader process, starting one when none runs, and a second one when the
// first was found gone.
Sent SendRun(Link& link, const NamedWork& named, const std::string& first,
             const std::string& second, const IsolationLimits& limits, int output) {
    const int input = OpenInput(named, first);
    Sent sent;
    for (int attempt = 0; attempt < 2 && !sent.ok; ++attempt) {
        if (!Ensure(link, named)) {
            break;
        }
        sent.tag = link.nextTag++;
        // With the file handed over, its name only names it in what the child says.
        auto request = wire::RunRequest(sent.tag, first, second, limits);
        if (!request && input >= 0) {
            request = wire::RunRequest(sent.tag, {}, second, limits);
        }
        if (!request) {
            break;
        }
        sent.ok = wire::Send(link.socket, *request, output, input);
        if (!sent.ok) {
            Lose(link, "it had ended");
        }
    }
    if (input >= 0) {
        ::close(input);
    }
    return sent;
}

constexpr const char* kLost = "the reader process was lost";

// How the run `tag` ended, told by the reader process.
ChildOutcome Outcome(Link& link, std::uint64_t tag, std::chrono::milliseconds wallClock,
                     bool tooMuchOutput) {
    const auto answer = AwaitAnswer(link, tag, wallClock + kAnswerGrace);
    if (!answer) {
        Lose(link, "it did not answer");
        return {ChildEnd::NoProcess, kLost};
    }
    if (answer->noProcess != 0) {
        return {ChildEnd::NoProcess, "no process"};
    }
    return VerdictOf(answer->waitStatus, answer->killedAtDeadline != 0, tooMuchOutput);
}

// Empty when the reader process was lost before the child wrote anything.
std::optional<IsolatedResult> RunInReader(Link& link, const NamedWork& named,
                                          const std::string& first, const std::string& second,
                                          const IsolationLimits& limits,
                                          const std::function<void(PageBuffer&)>& received) {
    Pipe pipe = MakePipe();
    if (!pipe.read.Valid()) {
        return NoProcess("no pipe");
    }
    const Sent sent = SendRun(link, named, first, second, limits, pipe.write.Get());
    pipe.write.Reset();
    if (!sent.ok) {
        return NoProcess("no reader process");
    }
    const auto deadline = Clock::now() + limits.wallClock + kAnswerGrace;
    PipeRead got;
    try {
        got = ReadChildOutput(pipe.read.Get(), deadline, limits.maxOutputBytes, received);
    } catch (...) {
        pipe.read.Reset();
        Cancel(link, sent.tag);
        Outcome(link, sent.tag, std::chrono::milliseconds(0), false);
        throw;
    }
    pipe.read.Reset();
    if (got.tooLarge) {
        Cancel(link, sent.tag);
    }
    ChildOutcome outcome = Outcome(link, sent.tag, limits.wallClock, got.tooLarge);
    if (outcome.end == ChildEnd::NoProcess && link.socket < 0 && got.total == 0) {
        return std::nullopt;
    }
    return IsolatedResult{std::move(outcome), std::move(got.out)};
}

} // namespace

void ServeReadsIfAsked(int argc, char** argv, std::span<const NamedWork> works) {
    if (argc >= 4 && std::strcmp(argv[1], kReaderProcessFlag) == 0) {
        for (const NamedWork& named : works) {
            if (std::strcmp(named.name, argv[2]) == 0) {
                ServeReads(kReaderSocketFd, named.work, named.prepare,
                           static_cast<pid_t>(std::atol(argv[3])));
            }
        }
        ::_exit(2);
    }
    DeclaredWorks().assign(works.begin(), works.end());
}

bool StartIsolationServer(IsolatedWork work, bool forkWhileAlone) {
    const std::lock_guard lock(LinkLock());
    const NamedWork* named = Declared(work);
    return named != nullptr && Spawn(TheLink(), *named, forkWhileAlone);
}

void StopIsolationServer() {
    const std::lock_guard lock(LinkLock());
    Close(TheLink());
}

IsolatedResult RunIsolatedWork(IsolatedWork work, const std::string& first,
                               const std::string& second, const IsolationLimits& limits,
                               const std::function<void(PageBuffer&)>& received) {
    if (const NamedWork* named = Declared(work)) {
        const std::lock_guard lock(LinkLock());
        // A reader process lost before its child wrote anything: the run goes to the one
        // that replaces it.
        if (auto result = RunInReader(TheLink(), *named, first, second, limits, received)) {
            return std::move(*result);
        }
        if (auto result = RunInReader(TheLink(), *named, first, second, limits, received)) {
            return std::move(*result);
        }
        return NoProcess(kLost);
    }
    return RunIsolated([&](const ByteSink& sink) { work(first, second, sink); }, limits, received);
}

// An early run as the caller sees it; touched only by its owner.
struct EarlyRun::State {
    int file = -1; // the anonymous file the child writes; -1 once read or let go
    std::uint64_t tag = 0;
    std::uint64_t generation = 0; // of the reader process that runs it
    IsolationLimits limits;
    ~State() {
        if (file >= 0) {
            ::close(file);
        }
    }
};

EarlyRun::EarlyRun(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::shared_ptr<EarlyRun> EarlyRun::Start(IsolatedWork work, const std::string& first,
                                          const std::string& second,
                                          const IsolationLimits& limits) {
    const NamedWork* named = Declared(work);
    if (named == nullptr || limits.maxOutputBytes == 0) {
        return nullptr;
    }
    // As large as the output may grow and sealed there: a child that writes more gets an
    // error, not more memory.
    auto state = std::make_unique<State>();
    state->file = ::memfd_create("zurodid-early-run", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    state->limits = limits;
    if (state->file < 0 ||
        ::ftruncate(state->file, static_cast<off_t>(limits.maxOutputBytes)) != 0 ||
        ::fcntl(state->file, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        return nullptr;
    }
    const std::lock_guard lock(LinkLock());
    Link& link = TheLink();
    const Sent sent = SendRun(link, *named, first, second, limits, state->file);
    if (!sent.ok) {
        return nullptr;
    }
    state->tag = sent.tag;
    state->generation = link.generation;
    return std::make_shared<EarlyRun>(std::move(state));
}

EarlyRun::~EarlyRun() {
    if (state_->file < 0) {
        return; // taken
    }
    const std::lock_guard lock(LinkLock());
    Link& link = TheLink();
    if (link.socket >= 0 && link.generation == state_->generation &&
        link.stashed.erase(state_->tag) == 0) {
        Cancel(link, state_->tag);
        link.unwanted.insert(state_->tag);
    }
}

IsolatedResult EarlyRun::Take(const std::function<void(PageBuffer&)>& received) {
    State& run = *state_;
    if (run.file < 0) {
        return NoProcess("its output was taken already");
    }
    const int file = run.file;
    run.file = -1;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{file};
    ChildOutcome outcome;
    {
        const std::lock_guard lock(LinkLock());
        Link& link = TheLink();
        if (link.socket < 0 || link.generation != run.generation) {
            return NoProcess("the reader process was lost");
        }
        outcome = Outcome(link, run.tag, run.limits.wallClock, false);
    }
    if (outcome.end != ChildEnd::Done) {
        return {std::move(outcome), {}};
    }
    // The child's writes moved the file offset it shares with this descriptor.
    const off_t written = ::lseek(file, 0, SEEK_CUR);
    if (written < 0) {
        return NoProcess("its output cannot be read back");
    }
    const auto size = static_cast<std::size_t>(written);
    if (size >= run.limits.maxOutputBytes) {
        return {VerdictOf(0, false, true), {}};
    }
    constexpr std::size_t kChunk = 64 * 1024;
    PageBuffer out;
    // Room for all of it at once (pages are used only as they are written): the buffer is
    // never moved while it grows.
    out.ReserveTail(size);
    // `received` may take bytes from the front of `out`: the place in the file is kept apart.
    for (std::size_t done = 0; done < size;) {
        out.ReserveTail(std::min(kChunk, size - done));
        const std::size_t want = std::min(size - done, out.capacity() - out.size());
        const ssize_t got = ::pread(file, out.data() + out.size(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return NoProcess("its output cannot be read back");
        }
        done += static_cast<std::size_t>(got);
        out.Resize(out.size() + static_cast<std::size_t>(got));
        if (received) {
            received(out);
        }
    }
    return {std::move(outcome), std::move(out)};
}

} // namespace zurodid::jet
