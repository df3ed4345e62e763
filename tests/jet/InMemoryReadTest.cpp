// libmdb reading the diary from memory gives what it gives reading the file page by page: the
// same rows, and on a damaged or odd file the same failure. Texts sent as stored decode to what
// libmdb's conversion gives.
#include "JetTestSupport.h"
#include "store/jet/JetErrors.h"
#include "store/jet/MdbTableDump.h"
#include "tools/make-diary/DiaryDamage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

namespace damage = fixture::damage;

// The row stream of one table, or the failure, as "error N: text".
std::string Dump(const std::filesystem::path& file, const std::string& table,
                 jet::PageSource source, jet::StoredTexts texts = jet::StoredTexts::SentAsStored) {
    jet::IsolationLimits limits;
    limits.wallClock = std::chrono::milliseconds(1500);
    limits.cpuSeconds = 1;
    try {
        return std::string(jet::OutputOrEngineError(jet::RunIsolated(
                                                        [&](const jet::ByteSink& sink) {
                                                            jet::RowStreamWriter writer(sink);
                                                            jet::DumpTableRows(
                                                                file.c_str(), table.c_str(), writer,
                                                                source, texts);
                                                        },
                                                        limits))
                               .view());
    } catch (const RuntimeError& error) {
        return "error " + std::to_string(error.Number()) + ": " + error.what();
    }
}

// Every value of every row as the agent decodes it, or the failure.
std::vector<std::vector<Variant>> Decoded(const std::string& stream, const std::string& table) {
    std::vector<std::vector<Variant>> values;
    try {
        const auto rows = jet::DecodeRowStream(jet::PageBuffer::CopyOf(stream), table);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            values.push_back(rows.Values(row));
        }
    } catch (const RuntimeError& error) {
        values = {{stream.starts_with("error ") ? stream : std::string(error.what())}};
    }
    return values;
}

// How many of `tables` had texts sent as stored.
int ExpectSameBothWays(const std::filesystem::path& file, const std::vector<std::string>& tables,
                       const std::string& what) {
    int sentAsStored = 0;
    for (const auto& table : tables) {
        const auto asStored = Dump(file, table, jet::PageSource::InMemory);
        EXPECT_EQ(asStored, Dump(file, table, jet::PageSource::FileStream))
            << what << ", table " << table;
        const auto converted =
            Dump(file, table, jet::PageSource::InMemory, jet::StoredTexts::Converted);
        EXPECT_EQ(Decoded(asStored, table), Decoded(converted, table))
            << what << ", table " << table << ": texts sent as stored";
        sentAsStored += asStored != converted ? 1 : 0;
    }
    return sentAsStored;
}

TEST(JetInMemoryRead, EveryTableOfEveryFixtureReadsAsFromTheFile) {
    const auto fixtures = SharedFolder() / "fixtures" / "mdb";
    if (SharedFolder().empty() || !std::filesystem::exists(fixtures)) {
        GTEST_SKIP() << "no fixtures: ../shared/fixtures/mdb beside the source tree is absent "
                        "(or set ZURODID_SHARED_DIR)";
    }
    int tables = 0;
    int sentAsStored = 0;
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
        sentAsStored += ExpectSameBothWays(entry.path(), names, entry.path().string());
        tables += static_cast<int>(names.size());
    }
    EXPECT_GT(tables, 0);
    EXPECT_GT(sentAsStored, 0); // the ASCII texts of the Jet 3 files at least
}

TEST(JetInMemoryRead, EveryStoredByteOfAThaiDiaryDecodesAsLibmdbConvertsIt) {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    const auto day = At(2026, 3, 1);
    diary.tables[0].rows = {
        {day, ""}, {day, "ประชุม ห้อง 4 / room 4"}, {day, "ก" + std::string(254, 'x')}};
    for (int byte = 0; byte < 256; ++byte) {
        diary.tables[1].rows.push_back({day, "ab" + std::to_string(1000 + byte)});
    }
    fixture::WriteJet3(diary, folder / "Zurodid.mdb");
    // Each byte after ASCII, written over its text's "1" (the writer stores only what code page
    // 874 holds): Thai letters, 874's euro sign and quotes, its undefined bytes, a NUL.
    auto file = ReadBytes(folder / "Zurodid.mdb");
    for (int byte = 0; byte < 256; ++byte) {
        const auto text = "ab" + std::to_string(1000 + byte);
        const auto at = std::search(file.begin(), file.end(), text.begin(), text.end());
        ASSERT_NE(at, file.end()) << text;
        at[2] = static_cast<std::uint8_t>(byte);
    }
    WriteBytes(folder / "Zurodid.mdb", file);
    EXPECT_EQ(ExpectSameBothWays(folder / "Zurodid.mdb", {"Anniversary", "Appointment"}, "Thai"),
              2);
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
