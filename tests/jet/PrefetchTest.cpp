// Start-up's first reads, started in the reader process before they are asked for, are taken
// only when they are what the empty password opens and the file is as it was when they began;
// otherwise the opens read afresh, with the outcome they always had.
#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"

#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

using Rows = std::vector<std::vector<Variant>>;

fixture::Diary Version(const std::string& name, const std::string& password) {
    auto diary = fixture::StandardDiary();
    diary.password = password;
    for (int i = 0; i < 120; ++i) {
        diary.tables[1].rows.push_back(
            {At(2026, 5, 1) + std::chrono::hours(i), name + " " + std::to_string(i)});
    }
    return diary;
}

enum class Meanwhile { Nothing, Resaved, Touched, Removed };

struct PrefetchCase {
    const char* name;
    bool settled; // written a while ago, as a diary between two saves is
    const char* password;
    Meanwhile meanwhile;
    bool taken;
    const char* rowsOf; // the version the opens give; null: they raise `error`
    int error;
};

class JetPrefetch : public ::testing::TestWithParam<PrefetchCase> {
protected:
    void SetUp() override { ASSERT_TRUE(jet::StartIsolationServer(&jet::DumpTableWork)); }
    void TearDown() override { jet::StopIsolationServer(); }
};

TEST_P(JetPrefetch, IsTakenOnlyWhileTheFileIsAsItWas) {
    const auto& param = GetParam();
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteJet3(Version("A", param.password), file);
    if (param.settled) {
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                                   std::chrono::seconds(30));
    }
    // One to look at, one for the engine: both started on the same file.
    auto looked = PrefetchDiary(file);
    auto engines = PrefetchDiary(file);
    if (param.meanwhile == Meanwhile::Resaved) {
        WriteJet3(Version("B", param.password), file);
    } else if (param.meanwhile == Meanwhile::Touched) {
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                   std::chrono::seconds(1));
    } else if (param.meanwhile == Meanwhile::Removed) {
        std::filesystem::remove(file);
    }
    const auto early = looked->Take(file, "Appointment");
    EXPECT_EQ(early.has_value(), param.taken);
    EXPECT_FALSE(looked->Take(file, "Appointment")) << "taken twice";

    Rows rows;
    EXPECT_EQ(ErrorNumberOf([&] {
                  auto database =
                      jet::MakeJetEngine(FastOptions(), engines)
                          ->CreateWorkspace("Zurodid", "Admin", "")
                          ->OpenDatabase(file, false, false, std::string(";PWD=") + param.password);
                  // Appointment first: the Anniversary read, asked for before it, waits its turn.
                  rows = ReadAll(*database->OpenRecordset("Appointment", 2), 2);
                  database->OpenRecordset("Anniversary", 2);
              }),
              param.error);
    if (param.rowsOf != nullptr) {
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back()[1], Variant(std::string(param.rowsOf) + " 119"));
        // A fresh read, after whatever was let go: the reader process answers in step.
        EXPECT_EQ(rows,
                  ReadAll(*OpenDiary(file, param.password)->OpenRecordset("Appointment", 2), 2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Meanwhile, JetPrefetch,
    ::testing::Values(
        PrefetchCase{"unchanged", true, "", Meanwhile::Nothing, true, "A", 0},
        PrefetchCase{"saved_again", true, "", Meanwhile::Resaved, false, "B", 0},
        PrefetchCase{"touched", true, "", Meanwhile::Touched, false, "A", 0},
        PrefetchCase{"removed", true, "", Meanwhile::Removed, false, nullptr,
                     ErrorNumber::FileNotFound},
        PrefetchCase{"saved_just_before", false, "", Meanwhile::Nothing, false, "A", 0},
        PrefetchCase{"with_a_password", true, "secret", Meanwhile::Nothing, false, "A", 0}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace zurodid::jettest
