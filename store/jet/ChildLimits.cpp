#include "store/jet/ChildLimits.h"

#include "platform/Files.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid::jet {
namespace {

int gAgentStandardError = -1;

// The child's own exit statuses for the ways out that are not the work's: an exception that
// escaped it, and memory refused at the limit (which the work sees as std::bad_alloc).
constexpr int kExitThrew = 120;
constexpr int kExitOutOfMemory = 121;

} // namespace

int AgentStandardErrorInChild() {
    return gAgentStandardError;
}

namespace {
std::string& HandedFileName() {
    static std::string name;
    return name;
}
} // namespace

const std::string& NameOfHandedFile() {
    return HandedFileName();
}

void SetNameOfHandedFile(std::string name) {
    HandedFileName() = std::move(name);
}

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

void RunChild(int outputFd, const std::function<void(const ByteSink&)>& work,
              const IsolationLimits& limits, std::uint64_t addressSpace) noexcept {
    // The child's whole life is inside this block: whatever escapes the work ends the process
    // here, so the caller's stack (copied by the fork) is never unwound into.
    try {
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
        work([outputFd](const char* data, std::size_t size) {
            return WriteAll(outputFd, std::string_view(data, size));
        });
    } catch (const std::bad_alloc&) {
        ::_exit(kExitOutOfMemory);
    } catch (...) {
        ::_exit(kExitThrew);
    }
    ::_exit(0);
}

ChildOutcome VerdictOf(int waitStatus, bool killedAtDeadline, bool tooMuchOutput) {
    if (tooMuchOutput) {
        return {ChildEnd::TooMuchOutput, "it wrote more than its output may hold"};
    }
    if (killedAtDeadline) {
        return {ChildEnd::TimedOut, "it ran past its wall clock"};
    }
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        // SIGXCPU at the soft processor limit, SIGKILL at the hard one (nobody else kills it).
        if (signal == SIGXCPU || signal == SIGKILL) {
            return {ChildEnd::TimedOut, "it used up its processor time"};
        }
        return {ChildEnd::Crashed, "it stopped on signal " + std::to_string(signal)};
    }
    if (!WIFEXITED(waitStatus)) {
        return {ChildEnd::Crashed,
                "it ended abnormally (wait status " + std::to_string(waitStatus) + ")"};
    }
    switch (WEXITSTATUS(waitStatus)) {
    case 0:
        return {ChildEnd::Done, {}};
    case kExitOutOfMemory:
        return {ChildEnd::TooMuchMemory, "it ran out of the memory it may use"};
    case kExitThrew:
        return {ChildEnd::Crashed, "an exception escaped its work"};
    default:
        return {ChildEnd::Crashed,
                "it ended with status " + std::to_string(WEXITSTATUS(waitStatus))};
    }
}

} // namespace zurodid::jet
