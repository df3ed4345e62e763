#include "IsolationCases.h"
#include "JetTestSupport.h"
#include "platform/Log.h"
#include "store/jet/IsolatedRun.h"
#include "store/jet/ReaderClient.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zurodid::jettest {
namespace {

using jet::ByteSink;
using jet::ChildEnd;

// A second of wall clock: a fork and a short work fit in it on a loaded machine.
jet::IsolationLimits ShortLimits() {
    jet::IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(1000);
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
    ChildEnd expected;
};

const std::vector<ChildCase>& ChildCases() {
    static const std::vector<ChildCase> cases = {
        {"clean", [](const ByteSink& sink) { sink("abc", 3); }, ChildEnd::Done},
        // Unwound into the caller's copied stack, the child would go on as the caller and end
        // with success.
        {"throws", [](const ByteSink&) { throw std::runtime_error("escapes"); }, ChildEnd::Crashed},
        {"crash", [](const ByteSink&) { std::raise(SIGSEGV); }, ChildEnd::Crashed},
        {"abort", [](const ByteSink&) { std::abort(); }, ChildEnd::Crashed},
        {"exit status", [](const ByteSink&) { ::_exit(3); }, ChildEnd::Crashed},
        {"endless loop",
         [](const ByteSink&) {
             for (volatile bool forever = true; forever;) {
             }
         },
         ChildEnd::TimedOut},
        {"silent hang", [](const ByteSink&) { ::pause(); }, ChildEnd::TimedOut},
        // Address space, not pages: the limit comes at once, long before the wall clock.
        // A sanitizer's allocator reports a refused allocation and ends the process.
        {"runaway memory",
         [](const ByteSink&) {
             std::vector<std::unique_ptr<char[]>> hoard;
             for (;;) {
                 hoard.emplace_back(new char[64 * 1024 * 1024]);
                 hoard.back()[0] = 'x';
             }
         },
         jet::kUnderAddressSanitizer || jet::kUnderThreadSanitizer ? ChildEnd::Crashed
                                                                   : ChildEnd::TooMuchMemory},
        {"flood",
         [](const ByteSink& sink) {
             const std::string block(64 * 1024, 'f');
             while (sink(block.data(), block.size())) {
             }
         },
         ChildEnd::TooMuchOutput},
    };
    return cases;
}

std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                       "/children");
    for (pid_t child; list >> child;)
        children.push_back(child);
    return children;
}

std::vector<pid_t> OwnChildren() {
    return ChildrenOf(::getpid());
}

// Whether `pid` is a reader process exec'd with the reader's flag, not a fork of this one.
// A spawn returns while the child's exec is still laying out its arguments, when its command
// line reads empty: that is waited out.
bool Execd(pid_t pid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string line;
    while (line.empty() && std::chrono::steady_clock::now() < until) {
        std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
        line.assign(std::istreambuf_iterator<char>(file), {});
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return line.find(jet::kReaderProcessFlag) != std::string::npos;
}

} // namespace

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

namespace {

// The same outcomes whether the child is forked here or by a reader process.
TEST(JetIsolation, EveryWayAChildCanEndHasItsOwnOutcome) {
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork));
    for (const bool inReader : {false, true}) {
        for (const auto& child : ChildCases()) {
            const auto started = std::chrono::steady_clock::now();
            const auto result = inReader
                                    ? jet::RunIsolatedWork(&CaseWork, child.name, "", ShortLimits())
                                    : jet::RunIsolated(child.work, ShortLimits());
            EXPECT_EQ(result.outcome.end, child.expected)
                << child.name << (inReader ? " in the reader" : "") << ": "
                << result.outcome.detail;
            if (child.expected == ChildEnd::Done) {
                EXPECT_EQ(result.output.view(), "abc");
            }
            // Bounded by the wall-clock limit plus the kill, not by the child.
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
                << child.name;
        }
    }
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

TEST(JetIsolation, AStreamRefusedAsItArrivesStopsTheChild) {
    auto limits = ShortLimits();
    limits.wallClock = std::chrono::seconds(20);
    limits.cpuSeconds = 20;
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork));
    for (const bool inReader : {false, true}) {
        const auto started = std::chrono::steady_clock::now();
        int pieces = 0;
        const auto refuse = [&pieces](jet::PageBuffer&) {
            ++pieces;
            throw RuntimeError(ErrorNumber::DatabaseDamaged, "refused");
        };
        const int number = ErrorNumberOf([&] {
            if (inReader) {
                jet::RunIsolatedWork(&CaseWork, "flood", "", limits, refuse);
            } else {
                jet::RunIsolated(ChildCases().back().work, limits, refuse);
            }
        });
        EXPECT_EQ(number, ErrorNumber::DatabaseDamaged);
        EXPECT_EQ(pieces, 1);
        // Killed at the first piece, not waited for until the wall-clock limit.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
    // The next run gets its own answer.
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "clean", "", ShortLimits()).output.view(), "abc");
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

TEST(JetIsolation, AReaderProcessThatDiesIsReplacedWithALineForEach) {
    std::vector<std::string> lines;
    SetLogSink([&lines](std::string_view line) { lines.emplace_back(line); });
    {
        // Another thread is there: the reader is spawned, never forked.
        std::promise<void> release;
        std::thread other([done = release.get_future()] { done.wait(); });
        const bool started = jet::StartIsolationServer(&CaseWork, true);
        release.set_value();
        other.join();
        ASSERT_TRUE(started);
        ASSERT_EQ(OwnChildren().size(), 1u);
        EXPECT_TRUE(Execd(OwnChildren()[0])) << "forked from a process with threads";
        jet::StopIsolationServer();
    }
    // Forked while this process has no other thread (ThreadSanitizer's runtime has one; a
    // thread of an earlier test may end in between, which makes a fork sound too).
    const bool alone = std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                     std::filesystem::directory_iterator{}) == 1;
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork, true));
    const std::vector<pid_t> first = OwnChildren();
    ASSERT_EQ(first.size(), 1u);
    if (alone) {
        EXPECT_FALSE(Execd(first[0])) << "spawned, linking everything again, where a fork does";
    }
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "parent", "", ShortLimits()).output.view(),
              std::to_string(first[0]))
        << "forked by the reader process, not by us";
    EXPECT_TRUE(lines.empty());

    ::kill(first[0], SIGKILL);
    const auto result = jet::RunIsolatedWork(&CaseWork, "parent", "", ShortLimits());
    const std::vector<pid_t> second = OwnChildren();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_EQ(result.output.view(), std::to_string(second[0])) << "a new reader";
    EXPECT_TRUE(Execd(second[0]))
        << "a replacement is spawned, as in the agent, which has threads by then";
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("reader process"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("replaced"), std::string::npos) << lines[1];
    SetLogSink({});
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

TEST(JetIsolation, EarlyRunsRunSideBySideAndOneLetGoIsEndedByTheReader) {
    ASSERT_TRUE(jet::StartIsolationServer(&CaseWork));
    const pid_t reader = OwnChildren().at(0);
    TempFolder folder;
    // Time enough to meet on a loaded machine: one run after the other would wait it all.
    auto limits = ShortLimits();
    limits.wallClock = std::chrono::seconds(10);
    limits.cpuSeconds = 10;
    const auto first = jet::EarlyRun::Start(&CaseWork, "meet", folder.Path(), limits);
    const auto second = jet::EarlyRun::Start(&CaseWork, "meet", folder.Path(), limits);
    ASSERT_TRUE(first && second);
    // Asked for while they run: answered without waiting for them.
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "clean", "", ShortLimits()).output.view(), "abc");
    EXPECT_EQ(second->Take().output.view(), "together");
    EXPECT_EQ(first->Take().output.view(), "together");

    auto hang = jet::EarlyRun::Start(&CaseWork, "silent hang", "", limits);
    ASSERT_TRUE(hang);
    hang.reset();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ChildrenOf(reader).empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(ChildrenOf(reader).empty()) << "a run let go is ended before its wall clock";
    EXPECT_EQ(jet::RunIsolatedWork(&CaseWork, "clean", "", ShortLimits()).output.view(), "abc");
    jet::StopIsolationServer();
    ExpectNoChildLeft();
}

// The file goes to the reader process as a descriptor: no name is too long for a request.
TEST(JetIsolation, ADiaryWithALongNameIsReadByTheReaderProcess) {
    TempFolder folder;
    std::filesystem::path deep = folder.Path();
    while (deep.string().size() < 1500)
        deep /= std::string(100, 'd');
    std::filesystem::create_directories(deep);
    auto diary = fixture::StandardDiary();
    diary.tables[1].rows.push_back({At(2026, 12, 9, 9, 5), "long way"});
    fixture::WriteJet3(diary, deep / "Zurodid.mdb");
    auto recordset = OpenDiary(deep / "Zurodid.mdb")->OpenRecordset("Appointment", 2);
    const auto rows = ReadAll(*recordset, 2);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(rows[0][1]), "long way");
    jet::StopIsolationServer();
}

} // namespace
} // namespace zurodid::jettest
