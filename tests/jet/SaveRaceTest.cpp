// The engine against a diary that another process saves in place while it is read: every
// read gives the rows of one saved version, or says the diary is busy.
#include "DiaryRewriter.h"
#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"

#include <gtest/gtest.h>
#include <iostream>

namespace zurodid::jettest {
namespace {

using Rows = std::vector<std::vector<Variant>>;

// Two saved states of one diary: the same rows in the same places, each text telling its
// version, so that a read mixing pages of both shows.
fixture::Diary Version(char letter) {
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < 200; ++i) {
        diary.tables[1].rows.push_back(
            {At(2026, 5, 1) + std::chrono::hours(i),
             "Version " + std::string(1, letter) + " appointment " + std::to_string(1000 + i)});
    }
    for (int i = 0; i < 20; ++i) {
        diary.tables[0].rows.push_back(
            {At(1990, 1, 1 + static_cast<unsigned>(i)),
             "Version " + std::string(1, letter) + " birthday " + std::to_string(10 + i)});
    }
    return diary;
}

struct RaceCase {
    const char* name;
    int pageGapMs;
    bool truncates;
};

class JetSaveRace : public ::testing::TestWithParam<RaceCase> {};

TEST_P(JetSaveRace, EveryReadGivesOneSavedVersionOrSaysTheDiaryIsBusy) {
    TempFolder folder;
    std::vector<std::string> bytes;
    std::vector<Rows> versions;
    for (char letter : {'A', 'B'}) {
        const auto file = folder / (std::string(1, letter) + ".mdb");
        fixture::WriteJet3(Version(letter), file);
        versions.push_back(ReadAll(*OpenDiary(file)->OpenRecordset("Appointment", 2), 2));
        const auto read = ReadBytes(file);
        bytes.emplace_back(read.begin(), read.end());
    }
    ASSERT_EQ(bytes[0].size(), bytes[1].size());
    ASSERT_GT(bytes[0].size(), 6 * 2048u);
    const auto file = folder / "Zurodid.mdb";
    WriteBytes(file, {bytes[0].begin(), bytes[0].end()});

    auto options = FastOptions();
    options.quietPeriod = std::chrono::milliseconds(60); // four times the longest page gap
    options.busyBudget = std::chrono::milliseconds(300);
    options.settledAge = jet::ReaderOptions{}.settledAge;
    // One recordset kept across walks, as the agent keeps its own; fresh opens; and opens that
    // take what a prefetch started just before read, as the agent's start-up does.
    auto kept = OpenDiary(file, "", options)->OpenRecordset("Appointment", 2);
    ASSERT_TRUE(jet::StartIsolationServer(&jet::DumpTableWork));
    auto prefetchedOpen = [&] {
        auto prefetch = std::make_shared<jet::TablePrefetch>(
            file, std::vector<std::string>{"Appointment"}, options);
        return jet::MakeJetEngine(options, prefetch)
            ->CreateWorkspace("Zurodid", "Admin", "")
            ->OpenDatabase(file, false, false, ";PWD=")
            ->OpenRecordset("Appointment", 2);
    };

    int agreed = 0, busy = 0, wrong = 0;
    std::vector<std::string> failures;
    const auto& param = GetParam();
    RewriteOptions saving;
    saving.pageGap = std::chrono::milliseconds(param.pageGapMs);
    saving.truncates = param.truncates;
    saving.seed = static_cast<std::uint32_t>(param.pageGapMs * 2 + param.truncates);
    DiaryRewriter writer(file, bytes, saving);
    const auto start = std::chrono::steady_clock::now();
    for (int read = 0;; ++read) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if ((elapsed > std::chrono::milliseconds(700) && agreed >= 2) ||
            elapsed > std::chrono::seconds(5))
            break;
        try {
            const Rows rows =
                read % 3 == 0
                    ? ReadAll(*OpenDiary(file, "", options)->OpenRecordset("Appointment", 2), 2)
                : read % 3 == 1 ? ReadAll(*kept, 2)
                                : ReadAll(*prefetchedOpen(), 2);
            if (rows == versions[0] || rows == versions[1])
                ++agreed;
            else
                ++wrong;
        } catch (const RuntimeError& error) {
            if (error.Number() == ErrorNumber::DiaryBusy)
                ++busy;
            else
                failures.push_back(std::to_string(error.Number()) + " " + error.what());
        }
    }
    jet::StopIsolationServer();
    const auto saves = writer.Saves();
    const auto longestGap = writer.LongestGap();
    std::cout << "[          ] " << agreed << " reads of one version, " << busy << " busy, "
              << wrong << " wrong, " << failures.size() << " failed; " << saves
              << " saves, longest page gap "
              << std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count()
              << " ms\n";
    ASSERT_GE(saves, 2) << "the writer did not race the reads";
    if (longestGap >= options.quietPeriod)
        GTEST_SKIP() << "the machine stalled the writer inside a save for longer than the quiet "
                        "period: a torn file then looks like a saved one, and nothing can be "
                        "judged";
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_GE(agreed, 1);
}

INSTANTIATE_TEST_SUITE_P(PageGaps, JetSaveRace,
                         ::testing::Values(RaceCase{"no_gap", 0, false},
                                           RaceCase{"gap_1ms", 1, false},
                                           RaceCase{"gap_5ms_truncating", 5, true},
                                           RaceCase{"gap_15ms", 15, false},
                                           RaceCase{"gap_15ms_truncating", 15, true}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace zurodid::jettest
