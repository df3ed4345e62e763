// The diary's first reads, started in the reader process before start-up asks for them, are
// taken only when the file is as it was when they began; otherwise start-up reads afresh.
#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"

#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

using Rows = std::vector<std::vector<Variant>>;

fixture::Diary Version(const std::string& name) {
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < 120; ++i) {
        diary.tables[1].rows.push_back(
            {At(2026, 5, 1) + std::chrono::hours(i), name + " " + std::to_string(i)});
    }
    return diary;
}

// Written a while ago, as a diary between two saves is.
void WriteSettled(const fixture::Diary& diary, const std::filesystem::path& file) {
    WriteJet3(diary, file);
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                               std::chrono::seconds(30));
}

enum class Meanwhile { Nothing, Resaved, Touched, Removed, SavedJustBefore };

struct PrefetchCase {
    const char* name;
    Meanwhile meanwhile;
    bool taken;
    const char* rowsOf; // the version a fresh open gives; null: it raises `error`
    int error;
};

// The reader process the agent makes first thing.
class JetDiaryReader : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(jet::StartIsolationServer(&jet::DumpTableWork)); }
    void TearDown() override { jet::StopIsolationServer(); }
};

class JetPrefetch : public JetDiaryReader, public ::testing::WithParamInterface<PrefetchCase> {};

TEST_P(JetPrefetch, IsTakenOnlyWhileTheFileIsAsItWas) {
    const auto& param = GetParam();
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    const auto options = FastOptions();
    const std::vector<std::string> tables{"Anniversary", "Appointment"};
    if (param.meanwhile == Meanwhile::SavedJustBefore) {
        auto slow = options;
        slow.quietPeriod = std::chrono::seconds(10);
        WriteJet3(Version("A"), file);
        auto prefetch = std::make_shared<jet::TablePrefetch>(file, tables, slow);
        EXPECT_FALSE(prefetch->Take(file, "Appointment"));
        return;
    }
    WriteSettled(Version("A"), file);
    Rows expected;
    if (param.rowsOf != nullptr) {
        const auto other = folder / "Other.mdb";
        WriteJet3(Version(param.rowsOf), other);
        expected = ReadAll(*OpenDiary(other)->OpenRecordset("Appointment", 2), 2);
    }
    // One prefetch to look at, one for the engine: both see the same file.
    auto looked = std::make_shared<jet::TablePrefetch>(file, tables, options);
    auto engines = std::make_shared<jet::TablePrefetch>(file, tables, options);
    switch (param.meanwhile) {
    case Meanwhile::Resaved:
        WriteJet3(Version("B"), file);
        break;
    case Meanwhile::Touched:
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                   std::chrono::seconds(1));
        break;
    case Meanwhile::Removed:
        std::filesystem::remove(file);
        break;
    default:
        break;
    }
    const auto early = looked->Take(file, "Appointment");
    EXPECT_EQ(early.has_value(), param.taken);
    EXPECT_FALSE(looked->Take(file, "Appointment")) << "taken twice";
    if (early) {
        EXPECT_EQ(early->stamp, jet::StampOf(file));
    }

    Rows rows;
    const int error = ErrorNumberOf([&] {
        auto engine = jet::MakeJetEngine(options, engines);
        auto database = engine->CreateWorkspace("Zurodid", "Admin", "")
                            ->OpenDatabase(file, false, false, ";PWD=");
        // Appointment first: the Anniversary read, asked for before it, waits its turn.
        rows = ReadAll(*database->OpenRecordset("Appointment", 2), 2);
        database->OpenRecordset("Anniversary", 2);
    });
    EXPECT_EQ(error, param.error);
    if (param.rowsOf != nullptr) {
        EXPECT_EQ(rows, expected);
    }
    // The reader process answers the next read in step, whatever was let go before.
    if (param.meanwhile != Meanwhile::Removed) {
        EXPECT_EQ(ReadAll(*OpenDiary(file)->OpenRecordset("Appointment", 2), 2), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Meanwhile, JetPrefetch,
    ::testing::Values(
        PrefetchCase{"unchanged", Meanwhile::Nothing, true, "A", 0},
        PrefetchCase{"saved_again", Meanwhile::Resaved, false, "B", 0},
        PrefetchCase{"touched", Meanwhile::Touched, false, "A", 0},
        PrefetchCase{"removed", Meanwhile::Removed, false, nullptr, ErrorNumber::FileNotFound},
        PrefetchCase{"saved_just_before", Meanwhile::SavedJustBefore, false, nullptr, 0}),
    [](const auto& test) { return std::string(test.param.name); });

// Start-up opens the diary with the empty password: a protected diary's tables are read only
// once the password has been given, and a file that cannot be opened has none to read.
TEST_F(JetDiaryReader, StartUpPrefetchReadsOnlyWhatTheEmptyPasswordOpens) {
    TempFolder folder;
    const struct {
        const char* name;
        std::string password;
        bool damaged;
        bool taken;
    } cases[] = {{"no password", "", false, true},
                 {"a password", "secret", false, false},
                 {"a damaged header", "", true, false}};
    for (const auto& c : cases) {
        const auto file = folder / (std::string(c.name) + ".mdb");
        auto diary = Version("A");
        diary.password = c.password;
        WriteSettled(diary, file);
        if (c.damaged) {
            auto bytes = ReadBytes(file);
            bytes[0] = 0x7F;
            WriteBytes(file, bytes);
            std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                                       std::chrono::seconds(30));
        }
        auto prefetch = PrefetchDiary(file);
        EXPECT_EQ(prefetch->Take(file, "Appointment").has_value(), c.taken) << c.name;
    }
}

TEST(JetPrefetchWithoutReader, StartsNothingAndTheOpensReadAsEver) {
    jet::StopIsolationServer();
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteSettled(Version("A"), file);
    auto prefetch = std::make_shared<jet::TablePrefetch>(
        file, std::vector<std::string>{"Appointment"}, FastOptions());
    EXPECT_FALSE(prefetch->Take(file, "Appointment"));
    auto engine = jet::MakeJetEngine(FastOptions(), prefetch);
    auto database =
        engine->CreateWorkspace("Zurodid", "Admin", "")->OpenDatabase(file, false, false, ";PWD=");
    const auto rows = ReadAll(*database->OpenRecordset("Appointment", 2), 2);
    EXPECT_GE(rows.size(), 120u);
    EXPECT_EQ(rows, ReadAll(*OpenDiary(file)->OpenRecordset("Appointment", 2), 2));
}

} // namespace
} // namespace zurodid::jettest
