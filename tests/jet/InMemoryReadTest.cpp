// libmdb reading the diary from memory gives what it gives reading the file page by page: the
// same rows, and on a damaged or odd file the same failure.
#include "JetTestSupport.h"
#include "store/jet/JetErrors.h"
#include "store/jet/MdbTableDump.h"
#include "tools/make-diary/DiaryDamage.h"

#include <cstdio>
#include <cstring>
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
        return std::string(jet::OutputOrEngineError(jet::RunIsolated(
                                                        [&](const jet::ByteSink& sink) {
                                                            jet::RowStreamWriter writer(sink);
                                                            jet::DumpTableRows(file.c_str(),
                                                                               table.c_str(),
                                                                               writer, source);
                                                        },
                                                        limits))
                               .view());
    } catch (const RuntimeError& error) {
        return "error " + std::to_string(error.Number()) + ": " + error.what();
    }
}

void ExpectSameBothWays(const std::filesystem::path& file, const std::vector<std::string>& tables,
                        const std::string& what) {
    for (const auto& table : tables) {
        EXPECT_EQ(Dump(file, table, jet::PageSource::InMemory),
                  Dump(file, table, jet::PageSource::FileStream))
            << what << ", table " << table;
    }
}

TEST(JetInMemoryRead, EveryTableOfEveryFixtureReadsAsFromTheFile) {
    const auto fixtures = SharedFolder() / "fixtures" / "mdb";
    if (SharedFolder().empty() || !std::filesystem::exists(fixtures)) {
        GTEST_SKIP() << "no fixtures: ../shared/fixtures/mdb beside the source tree is absent "
                        "(or set ZURODID_SHARED_DIR)";
    }
    int tables = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fixtures)) {
        if (entry.path().extension() != ".mdb") {
            continue;
        }
        std::vector<std::string> names;
        std::FILE* list = ::popen(("mdb-tables -1 '" + entry.path().string() + "'").c_str(), "r");
        char line[512];
        while (list != nullptr && std::fgets(line, sizeof line, list) != nullptr) {
            names.emplace_back(line, std::strcspn(line, "\r\n"));
        }
        if (list == nullptr || ::pclose(list) != 0) {
            GTEST_SKIP() << "mdb-tables (Debian package mdbtools) did not run";
        }
        ExpectSameBothWays(entry.path(), names, entry.path().string());
        tables += static_cast<int>(names.size());
    }
    EXPECT_GT(tables, 0);
}

TEST(JetInMemoryRead, DamagedAndOddFilesGiveTheRowsOrTheFailureOfAPagedRead) {
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
    WriteJet3(diary, folder / "Original.mdb");
    const auto base = ReadBytes(folder / "Original.mdb");
    std::vector kinds(damage::kAllKinds.begin(), damage::kAllKinds.end());
    kinds.push_back(damage::Kind::LoopingMemo);
    std::mt19937_64 random(20261209);
    for (const auto kind : kinds) {
        for (int copy = 0; copy < 4; ++copy) {
            WriteBytes(folder / "Zurodid.mdb", damage::Damage(base, kind, random));
            ExpectSameBothWays(folder / "Zurodid.mdb", {"Anniversary", "Appointment"},
                               std::string(damage::NameOf(kind)) + " " + std::to_string(copy));
        }
    }
    WriteBytes(folder / "Empty.mdb", {});
    std::filesystem::create_directory(folder / "Folder.mdb");
    for (const char* odd : {"Empty.mdb", "Folder.mdb", "Missing.mdb"}) {
        ExpectSameBothWays(folder / odd, {"Appointment"}, odd);
    }
}

} // namespace
} // namespace zurodid::jettest
