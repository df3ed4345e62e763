#include "store/jet/TableReader.h"

#include "JetTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

// What the diary program does to the file during each read, one entry per read.
enum class During { Nothing, Saves, SavesAndReadFails, ReadFails };

struct RetryCase {
    const char* name;
    std::vector<During> reads;
    int expectedReads;
    int expectedError;   // 0: rows come back
    int expectedRows;    // which read's rows (1-based)
    bool expectedSteady; // whether the result knows the file's stamp
};

class JetRereadWhileSaving : public ::testing::TestWithParam<RetryCase> {};

TEST_P(JetRereadWhileSaving, ReadsAgainABoundedNumberOfTimes) {
    const auto& param = GetParam();
    TempFolder folder;
    const auto file = folder / "Zurodid.mdb";
    WriteBytes(file, {1, 2, 3});
    auto options = FastOptions();
    options.readAttempts = 3;
    int reads = 0;
    const jet::ReadOnce fake = [&](const std::string&, const std::string&) {
        const During during = param.reads.at(static_cast<std::size_t>(reads++));
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
    EXPECT_EQ(reads, param.expectedReads);
    if (param.expectedError == 0) {
        EXPECT_EQ(result.rows.columnCount, param.expectedRows);
        EXPECT_EQ(result.stamp.has_value(), param.expectedSteady);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JetRereadWhileSaving,
    ::testing::Values(
        RetryCase{"steady", {During::Nothing}, 1, 0, 1, true},
        RetryCase{"one save", {During::Saves, During::Nothing}, 2, 0, 2, true},
        RetryCase{"torn read", {During::SavesAndReadFails, During::Nothing}, 2, 0, 2, true},
        RetryCase{
            "saving throughout", {During::Saves, During::Saves, During::Saves}, 3, 0, 3, false},
        RetryCase{"last read torn",
                  {During::Saves, During::Saves, During::SavesAndReadFails},
                  3,
                  0,
                  2,
                  false},
        RetryCase{"always torn",
                  {During::SavesAndReadFails, During::SavesAndReadFails, During::SavesAndReadFails},
                  3,
                  ErrorNumber::DatabaseDamaged,
                  0,
                  false},
        RetryCase{
            "damaged and steady", {During::ReadFails}, 1, ErrorNumber::DatabaseDamaged, 0, false}),
    [](const auto& test) {
        std::string name = test.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

} // namespace
} // namespace zurodid::jettest
