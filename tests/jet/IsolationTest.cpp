#include "JetTestSupport.h"
#include "store/jet/IsolatedRun.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace zurodid::jettest {
namespace {

using jet::ByteSink;

jet::IsolationLimits ShortLimits() {
    jet::IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(500);
    limits.cpuSeconds = 1;
    limits.extraMemoryBytes = 256ull * 1024 * 1024;
    limits.maxOutputBytes = 1024 * 1024;
    return limits;
}

void ExpectNoChildLeft() {
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD) << "a child process was left behind";
}

struct ChildCase {
    const char* name;
    std::function<void(const ByteSink&)> work;
    int expected; // 0: the bytes come back
};

const std::vector<ChildCase>& ChildCases() {
    static const std::vector<ChildCase> cases = {
        {"clean", [](const ByteSink& sink) { sink("abc", 3); }, 0},
        {"crash", [](const ByteSink&) { std::raise(SIGSEGV); }, ErrorNumber::DatabaseDamaged},
        {"abort", [](const ByteSink&) { std::abort(); }, ErrorNumber::DatabaseDamaged},
        {"endless loop",
         [](const ByteSink&) {
             for (volatile bool forever = true; forever;) {
             }
         },
         ErrorNumber::DatabaseDamaged},
        {"silent hang", [](const ByteSink&) { ::pause(); }, ErrorNumber::DatabaseDamaged},
        {"runaway memory",
         [](const ByteSink&) {
             std::vector<std::unique_ptr<char[]>> hoard;
             for (;;) {
                 hoard.emplace_back(new char[64 * 1024 * 1024]);
                 std::fill_n(hoard.back().get(), 64 * 1024 * 1024, 'x');
             }
         },
         ErrorNumber::DatabaseDamaged},
        {"flood",
         [](const ByteSink& sink) {
             const std::string block(64 * 1024, 'f');
             while (sink(block.data(), block.size())) {
             }
         },
         ErrorNumber::DatabaseDamaged},
        {"exit status", [](const ByteSink&) { ::_exit(3); }, ErrorNumber::DatabaseDamaged},
    };
    return cases;
}

TEST(JetIsolation, EveryWayAChildCanFailIsAnEngineError) {
    for (const auto& child : ChildCases()) {
        jet::PageBuffer out;
        const auto started = std::chrono::steady_clock::now();
        const int number =
            ErrorNumberOf([&] { out = jet::RunIsolated(child.work, ShortLimits()); });
        EXPECT_EQ(number, child.expected) << child.name;
        if (child.expected == 0) {
            EXPECT_EQ(out.view(), "abc");
        }
        // Bounded by the wall-clock limit plus the kill, not by the child.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
            << child.name;
        ExpectNoChildLeft();
    }
}

TEST(JetIsolation, AStreamRefusedAsItArrivesStopsTheChild) {
    auto limits = ShortLimits();
    limits.wallClock = std::chrono::seconds(20);
    limits.cpuSeconds = 20;
    const auto started = std::chrono::steady_clock::now();
    int pieces = 0;
    const int number = ErrorNumberOf([&] {
        jet::RunIsolated(
            [](const ByteSink& sink) {
                const std::string block(4096, 'f');
                while (sink(block.data(), block.size())) {
                }
                ::pause();
            },
            limits,
            [&pieces](jet::PageBuffer&) {
                ++pieces;
                throw RuntimeError(ErrorNumber::DatabaseDamaged, "refused");
            });
    });
    EXPECT_EQ(number, ErrorNumber::DatabaseDamaged);
    EXPECT_EQ(pieces, 1);
    // Killed at the first piece, not waited for until the wall-clock limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    ExpectNoChildLeft();
}

// The server's work: a child case by name, the parent of the process it runs in, or whether
// another child of the same folder ran at the same time ("meet").
void CaseWork(const std::string& name, const std::string& folder, const ByteSink& sink) {
    if (name == "meet") {
        std::ofstream(std::filesystem::path(folder) / std::to_string(::getpid()));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            const auto entries = std::filesystem::directory_iterator(folder);
            if (std::distance(begin(entries), end(entries)) >= 2) {
                sink("together", 8);
                return;
            }
            ::usleep(1000);
        }
        sink("alone", 5);
        return;
    }
    if (name == "parent") {
        const std::string parent = std::to_string(::getppid());
        sink(parent.data(), parent.size());
        return;
    }
    for (const auto& child : ChildCases())
        if (name == child.name)
            child.work(sink);
}

std::vector<pid_t> OwnChildren() {
    std::vector<pid_t> children;
    std::ifstream list("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    for (pid_t pid; list >> pid;)
        children.push_back(pid);
    return children;
}

TEST(JetIsolation, AServerMadeBeforeThreadsForksTheChildrenWithTheSameOutcomes) {
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork));
    const std::vector<pid_t> server = OwnChildren();
    ASSERT_EQ(server.size(), 1u);
    jet::PageBuffer out = jet::RunIsolatedWork(&CaseWork, "parent", "", ShortLimits());
    EXPECT_EQ(out.view(), std::to_string(server[0])) << "forked by the server, not by us";
    for (const auto& child : ChildCases()) {
        const int number = ErrorNumberOf(
            [&] { out = jet::RunIsolatedWork(&CaseWork, child.name, "", ShortLimits()); });
        EXPECT_EQ(number, child.expected) << child.name;
        if (child.expected == 0) {
            EXPECT_EQ(out.view(), "abc");
        }
        EXPECT_EQ(OwnChildren(), server) << child.name << ": the server outlives its children";
    }
    // A stream refused as it arrives ends the child; the next run gets its own answers.
    const int refused = ErrorNumberOf([&] {
        jet::RunIsolatedWork(&CaseWork, "flood", "", ShortLimits(), [](jet::PageBuffer&) {
            throw RuntimeError(ErrorNumber::DatabaseDamaged, "refused");
        });
    });
    EXPECT_EQ(refused, ErrorNumber::DatabaseDamaged);
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "clean", "", ShortLimits()).view(), "abc");
    // A server that has gone: the runs fork from the caller again.
    ::kill(server[0], SIGKILL);
    out = jet::RunIsolatedWork(&CaseWork, "parent", "", ShortLimits());
    EXPECT_EQ(out.view(), std::to_string(::getpid()));
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

TEST(JetIsolation, EarlyRunsRunSideBySideAndEveryRunGetsItsOwnAnswers) {
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork));
    TempFolder folder;
    // Time enough to meet on a loaded machine: one run after the other would wait it all.
    auto limits = ShortLimits();
    limits.wallClock = std::chrono::seconds(10);
    limits.cpuSeconds = 10;
    const auto first = jet::EarlyRun::Start(&CaseWork, "meet", folder.Path(), limits);
    const auto second = jet::EarlyRun::Start(&CaseWork, "meet", folder.Path(), limits);
    ASSERT_TRUE(first && second);
    // Asked for while they run: answered after them.
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "clean", "", ShortLimits()).view(), "abc");
    EXPECT_EQ(second->Take().view(), "together");
    EXPECT_EQ(first->Take().view(), "together");
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

} // namespace
} // namespace zurodid::jettest
