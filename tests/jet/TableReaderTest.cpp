#include "store/jet/TableReader.h"

#include "JetTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

// What the diary program does to the file during each read, one entry per read; the last
// entry goes on for every further read.
enum class During { Nothing, Saves, SavesAndReadFails, ReadFails };

struct RetryCase {
    const char* name;
    std::vector<During> reads;
    int minReads;
    int expectedError; // 0: rows come back
    int expectedRows;  // which read's rows (1-based)
};

class JetRereadWhileSaving : public ::testing::TestWithParam<RetryCase> {};

TEST_P(JetRereadWhileSaving, TrustsOnlyAReadTheFileHeldStillAcross) {
    const auto& param = GetParam();
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteBytes(file, {1, 2, 3});
    auto options = FastOptions();
    options.quietPeriod = std::chrono::milliseconds(10);
    options.busyBudget = std::chrono::milliseconds(100);
    int reads = 0;
    const jet::ReadOnce fake = [&](const std::string&, const std::string&) {
        const auto index = std::min<std::size_t>(static_cast<std::size_t>(reads), //
                                                 param.reads.size() - 1);
        const During during = param.reads[index];
        ++reads;
        if (during == During::Saves || during == During::SavesAndReadFails) {
            std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                       std::chrono::seconds(1));
        }
        if (during == During::SavesAndReadFails || during == During::ReadFails) {
            throw RuntimeError(ErrorNumber::DatabaseDamaged, "torn");
        }
        jet::TableRows rows;
        rows.columnCount = static_cast<std::uint16_t>(reads); // tells the reads apart
        return rows;
    };

    jet::TableRead result;
    EXPECT_EQ(ErrorNumberOf([&] { result = jet::ReadTable(file, "T", options, fake); }),
              param.expectedError);
    EXPECT_GE(reads, param.minReads);
    if (param.expectedError == 0) {
        EXPECT_EQ(reads, param.minReads);
        EXPECT_EQ(result.rows->columnCount, param.expectedRows);
        EXPECT_EQ(result.stamp, jet::StampOf(file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JetRereadWhileSaving,
    ::testing::Values(
        RetryCase{"steady", {During::Nothing}, 1, 0, 1},
        RetryCase{"one save", {During::Saves, During::Nothing}, 2, 0, 2},
        RetryCase{"torn read", {During::SavesAndReadFails, During::Nothing}, 2, 0, 2},
        // Never the last read taken while the file changed: busy, so the caller keeps its own.
        RetryCase{"saving throughout", {During::Saves}, 2, ErrorNumber::DiaryBusy, 0},
        RetryCase{"always torn", {During::SavesAndReadFails}, 2, ErrorNumber::DiaryBusy, 0},
        RetryCase{"damaged and steady", {During::ReadFails}, 1, ErrorNumber::DatabaseDamaged, 0},
        RetryCase{"damaged once it rests",
                  {During::SavesAndReadFails, During::ReadFails},
                  2,
                  ErrorNumber::DatabaseDamaged,
                  0}),
    [](const auto& test) {
        std::string name = test.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

std::int64_t WallNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(JetQuietPeriod, ReadsOnlyAFileThatHasBeenQuietAndNeverWaitsForEver) {
    using std::chrono::milliseconds;
    struct Case {
        const char* name;
        std::optional<std::chrono::hours> modifiedFromNow; // none: written just now
        milliseconds budget;
        int expectedError;
        bool quietByOwnWatch; // the file's time cannot tell, so we watch it ourselves
    };
    const std::vector<Case> cases{
        {"written just now", std::nullopt, milliseconds(2000), 0, false},
        {"written an hour ago", std::chrono::hours(-1), milliseconds(2000), 0, false},
        {"time in the future: clock set back", std::chrono::hours(1), milliseconds(2000), 0, true},
        {"written just now, budget shorter than the quiet period", std::nullopt, milliseconds(5),
         ErrorNumber::DiaryBusy, false},
        {"future time, budget shorter than the quiet period", std::chrono::hours(1),
         milliseconds(5), ErrorNumber::DiaryBusy, true},
    };
    constexpr auto kQuiet = milliseconds(50);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = folder / "Zurodid.mdb";
        WriteBytes(file, {1, 2, 3});
        if (c.modifiedFromNow) {
            std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() +
                                                       *c.modifiedFromNow);
        }
        auto options = FastOptions();
        options.quietPeriod = kQuiet;
        options.busyBudget = c.budget;
        const auto start = std::chrono::steady_clock::now();
        int reads = 0;
        const int error = ErrorNumberOf([&] {
            jet::ReadWhileStill(file, options, [&] {
                ++reads;
                const auto stamp = jet::StampOf(file);
                ASSERT_TRUE(stamp);
                if (c.quietByOwnWatch) {
                    EXPECT_GE(std::chrono::steady_clock::now() - start, kQuiet);
                } else {
                    EXPECT_GE(WallNowNs() - stamp->modifiedNs,
                              std::chrono::nanoseconds(kQuiet).count());
                }
            });
        });
        EXPECT_EQ(error, c.expectedError);
        EXPECT_EQ(reads, c.expectedError == 0 ? 1 : 0);
    }
}

TEST(JetQuietPeriod, AFailedReadOfAFileChangedMomentsAgoIsBusyNotDamaged) {
    using std::chrono::milliseconds;
    struct Case {
        const char* name;
        std::chrono::hours modifiedFromNow;
        milliseconds settledAge;
        int expectedError;
    };
    const std::vector<Case> cases{
        // A save stalled halfway: read once, then wait for it to go on, without reading again.
        {"changed just now", std::chrono::hours(0), milliseconds(2000), ErrorNumber::DiaryBusy},
        {"changed an hour ago", std::chrono::hours(-1), milliseconds(2000),
         ErrorNumber::DatabaseDamaged},
        {"changed just now, nothing taken for a stalled save", std::chrono::hours(0),
         milliseconds(0), ErrorNumber::DatabaseDamaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = folder / "Zurodid.mdb";
        WriteBytes(file, {1, 2, 3});
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() +
                                                   c.modifiedFromNow);
        auto options = FastOptions();
        options.busyBudget = milliseconds(100);
        options.settledAge = c.settledAge;
        int reads = 0;
        EXPECT_EQ(ErrorNumberOf([&] {
                      jet::ReadWhileStill(file, options, [&] {
                          ++reads;
                          throw RuntimeError(ErrorNumber::DatabaseDamaged, "half saved");
                      });
                  }),
                  c.expectedError);
        EXPECT_EQ(reads, 1);
    }
}

} // namespace
} // namespace zurodid::jettest
