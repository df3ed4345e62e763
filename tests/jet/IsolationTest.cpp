#include "JetTestSupport.h"
#include "store/jet/IsolatedRun.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

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

TEST(JetIsolation, EveryWayAChildCanFailIsAnEngineError) {
    const std::vector<ChildCase> cases = {
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
    for (const auto& child : cases) {
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

} // namespace
} // namespace zurodid::jettest
