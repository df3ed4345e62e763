// libmdb reading the diary from one read of it into memory gives what it gives reading the file
// page by page: the same rows, and on a damaged file the same failure.
#include "JetTestSupport.h"
#include "store/jet/MdbTableDump.h"
#include "tools/make-diary/DiaryDamage.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

namespace damage = fixture::damage;

// The row stream of one table, or the failure, as "error N: text".
std::string Dump(const std::filesystem::path& file, const std::string& table,
                 jet::PageSource source) {
    jet::IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(1500);
    limits.cpuSeconds = 1;
    try {
        const auto out = jet::RunIsolated(
            [&](const jet::ByteSink& sink) {
                jet::RowStreamWriter writer(sink);
                jet::DumpTableRows(file.c_str(), table.c_str(), writer, source);
            },
            limits);
        return std::string(out.view());
    } catch (const RuntimeError& error) {
        return "error " + std::to_string(error.Number()) + ": " + error.what();
    }
}

std::vector<std::string> TablesOf(const std::filesystem::path& file) {
    std::vector<std::string> tables;
    std::FILE* list = ::popen(("mdb-tables -1 '" + file.string() + "' 2>/dev/null").c_str(), "r");
    if (list == nullptr) {
        return tables;
    }
    char line[512];
    while (std::fgets(line, sizeof line, list) != nullptr) {
        std::string name(line);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
            name.pop_back();
        }
        if (!name.empty()) {
            tables.push_back(name);
        }
    }
    ::pclose(list);
    return tables;
}

void ExpectSameBothWays(const std::filesystem::path& file, const std::vector<std::string>& tables,
                        const std::string& what) {
    for (const auto& table : tables) {
        const auto inMemory = Dump(file, table, jet::PageSource::InMemory);
        EXPECT_EQ(inMemory, Dump(file, table, jet::PageSource::FileStream))
            << what << ", table " << table;
    }
}

TEST(JetInMemoryRead, EveryTableOfEveryFixtureReadsAsFromTheFile) {
    const auto shared = SharedFolder();
    if (shared.empty() || !std::filesystem::exists(shared / "fixtures" / "mdb")) {
        GTEST_SKIP() << "no fixtures: ../shared/fixtures/mdb beside the source tree is absent "
                        "(or set ZURODID_SHARED_DIR)";
    }
    int tables = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(shared / "fixtures" / "mdb")) {
        if (entry.path().extension() != ".mdb") {
            continue;
        }
        const auto names = TablesOf(entry.path());
        if (names.empty()) {
            GTEST_SKIP() << "mdb-tables (Debian package mdbtools) is not installed";
        }
        ExpectSameBothWays(entry.path(), names, entry.path().string());
        tables += static_cast<int>(names.size());
    }
    EXPECT_GT(tables, 0);
}

struct DamageCase {
    const char* name;
    damage::Kind kind;
    int copies;
};

class JetInMemoryReadOfDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(JetInMemoryReadOfDamage, GivesTheRowsOrTheFailureOfAPagedRead) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    diary.tables[0].columns.push_back({"Notes", fixture::ColumnType::Memo});
    for (int i = 0; i < 200; ++i) {
        diary.tables[0].rows.push_back({At(1980, 1, 1) + std::chrono::days(i * 7),
                                        "วันเกิด " + std::to_string(i),
                                        std::string(static_cast<std::size_t>(i % 4) * 1500, 'n')});
        diary.tables[1].rows.push_back(
            {At(2026, 1, 1) + std::chrono::minutes(i * 97), "นัด " + std::to_string(i)});
    }
    const auto original = folder / "Original.mdb";
    WriteJet3(diary, original);
    const auto base = ReadBytes(original);
    const auto file = folder / "Zurodid.mdb";
    std::mt19937_64 random(20261209);
    for (int copy = 0; copy < GetParam().copies; ++copy) {
        WriteBytes(file, damage::Damage(base, GetParam().kind, random));
        ExpectSameBothWays(file, {"Anniversary", "Appointment"},
                           std::string(GetParam().name) + " copy " + std::to_string(copy));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JetInMemoryReadOfDamage,
    ::testing::Values(DamageCase{"bits_flipped", damage::Kind::BitsFlipped, 8},
                      DamageCase{"run_overwritten", damage::Kind::RunOverwritten, 8},
                      DamageCase{"truncated_at_page", damage::Kind::TruncatedAtPage, 6},
                      DamageCase{"truncated_mid_page", damage::Kind::TruncatedMidPage, 6},
                      DamageCase{"pages_swapped", damage::Kind::PagesSwapped, 6},
                      DamageCase{"header_page", damage::Kind::HeaderPage, 6},
                      DamageCase{"table_definition_page", damage::Kind::TableDefinitionPage, 6},
                      DamageCase{"data_page", damage::Kind::DataPage, 6},
                      DamageCase{"looping_memo", damage::Kind::LoopingMemo, 1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(JetInMemoryRead, AnEmptyFileAndAFolderFailAsBefore) {
    TempFolder folder;
    WriteBytes(folder / "Empty.mdb", {});
    std::filesystem::create_directory(folder / "Folder.mdb");
    for (const char* name : {"Empty.mdb", "Folder.mdb", "Missing.mdb"}) {
        const auto inMemory = Dump(folder / name, "Appointment", jet::PageSource::InMemory);
        EXPECT_EQ(inMemory, Dump(folder / name, "Appointment", jet::PageSource::FileStream))
            << name;
        EXPECT_NE(
            ErrorNumberOf([&] {
                jet::RowStreamDecoder("Appointment").Finish(jet::PageBuffer::CopyOf(inMemory));
            }),
            0)
            << name << " read as a table";
    }
}

} // namespace
} // namespace zurodid::jettest
