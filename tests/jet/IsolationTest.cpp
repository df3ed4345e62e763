#include "JetTestSupport.h"
#include "store/jet/IsolatedRun.h"
#include "store/jet/RowStream.h"

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
        std::string out;
        const auto started = std::chrono::steady_clock::now();
        const int number =
            ErrorNumberOf([&] { out = jet::RunIsolated(child.work, ShortLimits()); });
        EXPECT_EQ(number, child.expected) << child.name;
        if (child.expected == 0) {
            EXPECT_EQ(out, "abc");
        }
        // Bounded by the wall-clock limit plus the kill, not by the child.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
            << child.name;
        ExpectNoChildLeft();
    }
}

std::string Stream(const std::function<void(jet::RowStreamWriter&)>& fill) {
    std::string bytes;
    jet::RowStreamWriter out([&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return true;
    });
    fill(out);
    return bytes;
}

TEST(JetRowStream, RoundTripsValues) {
    const auto bytes = Stream([](jet::RowStreamWriter& out) {
        out.Begin(3);
        out.BeginRow(jet::MakeBookmark(7, 1), jet::MakeBookmark(7, 1));
        out.Null();
        out.Text("ทดสอบ");
        out.OleDate(2.5);
        out.BeginRow(jet::MakeBookmark(7, 2), jet::MakeBookmark(9, 0));
        out.Number(-1);
        out.Text("");
        out.OleDate(1e12); // beyond the calendar: kept as the stored number
        out.BeginRow(jet::MakeBookmark(7, 3), jet::MakeBookmark(7, 3));
        out.Boolean(true);
        out.Boolean(false);
        out.Null();
        out.Finish();
    });
    const auto rows = jet::DecodeRowStream(bytes, "T");
    ASSERT_EQ(rows.columnCount, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.Values(0),
              (std::vector<Variant>{Null{}, std::string("ทดสอบ"), At(1900, 1, 1, 12)}));
    EXPECT_EQ(rows.locations[1], jet::MakeBookmark(9, 0));
    EXPECT_EQ(rows.Values(1), (std::vector<Variant>{-1.0, std::string(""), 1e12}));
    EXPECT_EQ(rows.Value(1, 2), Variant(1e12)); // one field, without the others
    EXPECT_EQ(rows.Values(2), (std::vector<Variant>{true, false, Null{}}));
}

TEST(JetRowStream, RejectsEveryMalformedStream) {
    const auto good = Stream([](jet::RowStreamWriter& out) {
        out.Begin(1);
        out.BeginRow(1, 1);
        out.Text("abc");
        out.Finish();
    });
    auto withByte = [&](std::size_t at, char value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 3)},
        {"no end", good.substr(0, good.size() - 9)},
        {"trailing byte", good + "x"},
        {"bad magic", withByte(0, 'X')},
        {"bad status", withByte(4, 'Q')},
        {"bad tag", withByte(4 + 1 + 2 + 1 + 16, 9)},
        {"row count differs", withByte(good.size() - 8, 5)},
        {"text longer than the stream", withByte(4 + 1 + 2 + 1 + 16 + 1 + 3, 0x7F)},
        {"a row twice", Stream([](jet::RowStreamWriter& out) {
             out.Begin(0);
             out.BeginRow(1, 1);
             out.BeginRow(1, 1);
             out.Finish();
         })},
        {"damaged report", Stream([](jet::RowStreamWriter& out) { out.Damaged("bad page"); })},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_EQ(ErrorNumberOf([&] { jet::DecodeRowStream(bytes, "T"); }),
                  ErrorNumber::DatabaseDamaged)
            << name;
    }
    // Well formed, but more than the memory a table may take once decoded.
    EXPECT_EQ(ErrorNumberOf([&] { jet::DecodeRowStream(good, "T", 16); }),
              ErrorNumber::DatabaseDamaged);
    EXPECT_EQ(ErrorNumberOf([&] { jet::DecodeRowStream(good, "T", 4096); }), 0);
    EXPECT_EQ(ErrorNumberOf([&] {
                  jet::DecodeRowStream(
                      Stream([](jet::RowStreamWriter& out) { out.TableNotFound(); }), "T");
              }),
              ErrorNumber::TableNotFound);
}

} // namespace
} // namespace zurodid::jettest
