#include "JetTestSupport.h"
#include "store/jet/ReaderClient.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>

namespace zurodid::jettest {
namespace {

constexpr std::size_t kPage = 2048;

fixture::Diary BaseDiary() {
    auto diary = fixture::StandardDiary();
    diary.tables[0].columns.push_back({"Notes", fixture::ColumnType::Memo});
    for (int i = 0; i < 300; ++i) {
        diary.tables[0].rows.push_back({At(1980, 1, 1) + std::chrono::days(i * 7),
                                        "วันเกิด " + std::to_string(i),
                                        std::string(static_cast<std::size_t>(i % 5) * 900, 'n')});
        diary.tables[1].rows.push_back(
            {At(2026, 1, 1) + std::chrono::minutes(i * 97), "นัด " + std::to_string(i)});
    }
    return diary;
}

// One damaged copy: bytes changed, pages swapped or blanked, or the file cut short.
std::vector<std::uint8_t> Mutate(std::vector<std::uint8_t> bytes, std::mt19937& random) {
    auto pick = [&](std::size_t from, std::size_t to) {
        return std::uniform_int_distribution<std::size_t>(from, to)(random);
    };
    const std::size_t pages = bytes.size() / kPage;
    switch (pick(0, 4)) {
    case 0:
    case 1: // a few bytes anywhere after the header page
        for (std::size_t n = pick(1, 16); n > 0; --n) {
            bytes[pick(kPage, bytes.size() - 1)] = static_cast<std::uint8_t>(pick(0, 255));
        }
        break;
    case 2: // a page of noise
        for (std::size_t at = pick(1, pages - 1) * kPage, end = at + kPage; at < end; ++at) {
            bytes[at] = static_cast<std::uint8_t>(pick(0, 255));
        }
        break;
    case 3: // a page copied over another
        std::copy_n(bytes.begin() + static_cast<long>(pick(1, pages - 1) * kPage), kPage,
                    bytes.begin() + static_cast<long>(pick(1, pages - 1) * kPage));
        break;
    default: // cut short
        bytes.resize(pick(0, bytes.size() - 1));
        break;
    }
    return bytes;
}

TEST(JetDamagedFile, MutatedDiariesGiveAnEngineErrorOrACleanRead) {
    TempFolder folder;
    const auto original = folder / "Original.mdb";
    WriteJet3(BaseDiary(), original);
    const auto base = ReadBytes(original);
    const auto file = folder / "Zurodid.mdb";
    std::mt19937 random(20261208);
    int cleanReads = 0;
    int errors = 0;
    constexpr int kCopies = 300;
    for (int copy = 0; copy < kCopies; ++copy) {
        WriteBytes(file, Mutate(base, random));
        try {
            auto database = OpenDiary(file);
            for (const char* table : {"Anniversary", "Appointment"}) {
                auto recordset = database->OpenRecordset(table, 2);
                ReadAll(*recordset, 2);
            }
            ++cleanReads;
        } catch (const RuntimeError& error) {
            const int number = error.Number();
            EXPECT_TRUE(number == ErrorNumber::DatabaseDamaged ||
                        number == ErrorNumber::UnrecognizedFormat ||
                        number == ErrorNumber::TableNotFound)
                << "copy " << copy << ": " << number << " " << error.what();
            ++errors;
        }
    }
    EXPECT_EQ(cleanReads + errors, kCopies);
    // The reader process ends its children: none of them outlives it.
    jet::StopIsolationServer();
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD) << "a reader process was left behind";
    std::cout << "[          ] " << cleanReads << " clean reads, " << errors << " engine errors\n";
}

} // namespace
} // namespace zurodid::jettest
