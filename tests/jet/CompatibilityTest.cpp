// Reads the Access-written files of the shared fixtures and compares with mdb-export.
#include "JetTestSupport.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace zurodid::jettest {
namespace {

struct CsvField {
    std::string text;
    bool quoted = false;
};
using CsvRow = std::vector<CsvField>;

// Standard output of a command run without a shell; nullopt when it cannot run.
std::optional<std::string> Output(const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}

std::vector<CsvRow> ParseCsv(const std::string& text) {
    std::vector<CsvRow> rows;
    CsvRow row;
    CsvField field;
    bool inQuotes = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.text += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field.text += c;
            }
        } else if (c == '"') {
            inQuotes = field.quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field = {};
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field = {};
        } else {
            field.text += c;
        }
    }
    return rows;
}

std::string FormatDate(DateTime value) {
    const auto date = DateOf(value);
    const auto time = TimeOfDay(value).count();
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(time / 3600),
                  static_cast<long long>(time / 60 % 60), static_cast<long long>(time % 60));
    return text;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

bool IsHex(const std::string& text) {
    return !text.empty() && text.size() % 2 == 0 &&
           text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// libmdb's text for a date it cannot convert (before 30 December 1899, or far ahead).
constexpr const char* kLibmdbUnconvertedDate = "1900-01-00 00:00:00";

// Whether our value and mdb-export's text say the same.
bool Agrees(const Variant& ours, const CsvField& theirs) {
    if (IsNull(ours)) {
        // Binary data and OLE objects are no diary values: the engine gives Null for them.
        return (!theirs.quoted && theirs.text.empty()) || (theirs.quoted && IsHex(theirs.text));
    }
    if (const auto* text = std::get_if<std::string>(&ours)) {
        // Replication IDs are exported as binary.
        return theirs.quoted && (theirs.text == *text || theirs.text == Hex(*text));
    }
    if (const auto* date = std::get_if<DateTime>(&ours)) {
        if (theirs.text == kLibmdbUnconvertedDate) {
            return *date < At(1899, 12, 30) || *date > At(4000, 1, 1);
        }
        return theirs.text == FormatDate(*date);
    }
    char* end = nullptr;
    const double exported = std::strtod(theirs.text.c_str(), &end);
    if (end == theirs.text.c_str()) {
        return false;
    }
    if (const auto* yes = std::get_if<bool>(&ours)) {
        return exported == (*yes ? 1.0 : 0.0);
    }
    const double number = std::get<double>(ours);
    return std::fabs(number - exported) <= 1e-6 * std::max(1.0, std::fabs(number));
}

std::vector<std::filesystem::path> FixtureFiles() {
    std::vector<std::filesystem::path> files;
    const auto shared = SharedFolder();
    if (shared.empty()) {
        return files;
    }
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(shared / "fixtures" / "mdb")) {
        if (entry.path().extension() == ".mdb") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

#define SKIP_WITHOUT_FIXTURES()                                                                    \
    if (FixtureFiles().empty()) {                                                                  \
        GTEST_SKIP() << "no fixtures: ../shared/fixtures/mdb beside the source tree is absent "    \
                        "(or set ZURODID_SHARED_DIR)";                                             \
    }                                                                                              \
    if (!Output({"mdb-tables", "--version"})) {                                                    \
        GTEST_SKIP() << "mdb-tables and mdb-export (Debian package mdbtools) are not installed";   \
    }

std::string PasswordFor(const std::filesystem::path& file) {
    return file.filename().string().find("with-password") != std::string::npos ? "password" : "";
}

TEST(JetCompatibility, EveryTableOfEveryFixtureAgreesWithMdbExport) {
    SKIP_WITHOUT_FIXTURES();
    int tablesCompared = 0;
    for (const auto& file : FixtureFiles()) {
        auto database = OpenDiary(file, PasswordFor(file));
        const auto names = Output({"mdb-tables", "-1", file.string()});
        ASSERT_TRUE(names) << file;
        std::size_t from = 0;
        for (auto end = names->find('\n'); end != std::string::npos;
             from = end + 1, end = names->find('\n', from)) {
            const std::string table = names->substr(from, end - from);
            const auto csv = Output({"mdb-export", "-T", "%Y-%m-%d %H:%M:%S", "-D",
                                     "%Y-%m-%d %H:%M:%S", "-b", "hex", file.string(), table});
            ASSERT_TRUE(csv) << file << " " << table;
            auto expected = ParseCsv(*csv);
            ASSERT_FALSE(expected.empty());
            const auto columns = static_cast<int>(expected.front().size());
            expected.erase(expected.begin()); // the header
            auto recordset = database->OpenRecordset(table, 2);
            const auto rows = ReadAll(*recordset, columns);
            ASSERT_EQ(rows.size(), expected.size()) << file << " " << table;
            int differences = 0;
            for (std::size_t r = 0; r < rows.size(); ++r) {
                for (int c = 0; c < columns; ++c) {
                    if (!Agrees(rows[r][c], expected[r][c]) && differences++ < 3) {
                        ADD_FAILURE()
                            << file.filename() << " " << table << " row " << r << " column " << c
                            << ": mdb-export says '" << expected[r][c].text << "'";
                    }
                }
            }
            ++tablesCompared;
        }
    }
    EXPECT_GT(tablesCompared, 40);
}

TEST(JetCompatibility, ProtectedFilesNeedTheirPassword) {
    SKIP_WITHOUT_FIXTURES();
    int files = 0;
    for (const auto& file : FixtureFiles()) {
        if (PasswordFor(file).empty()) {
            EXPECT_EQ(ErrorNumberOf([&] { OpenDiary(file, "whatever"); }), 0) << file;
            continue;
        }
        ++files;
        EXPECT_EQ(ErrorNumberOf([&] { OpenDiary(file, ""); }), ErrorNumber::NotValidPassword);
        EXPECT_EQ(ErrorNumberOf([&] { OpenDiary(file, "Password"); }),
                  ErrorNumber::NotValidPassword);
        auto recordset = OpenDiary(file, "password")->OpenRecordset("Table1", 2);
        EXPECT_GT(recordset->RecordCount(), 0);
    }
    EXPECT_EQ(files, 2);
}

TEST(JetCompatibility, DeletedRowsAreNotReturned) {
    SKIP_WITHOUT_FIXTURES();
    const std::vector<std::vector<Variant>> expected = {{std::string("z"), std::string("y")},
                                                        {std::string("v"), std::string("u")}};
    for (const auto& file : FixtureFiles()) {
        if (file.filename().string().starts_with("delTest")) {
            auto recordset = OpenDiary(file)->OpenRecordset("Table", 2);
            EXPECT_EQ(ReadAll(*recordset, 2), expected) << file;
        }
    }
}

TEST(JetCompatibility, MovedRowsAreAllReturned) {
    SKIP_WITHOUT_FIXTURES();
    for (const auto& file : FixtureFiles()) {
        if (file.filename().string().starts_with("overflowTest")) {
            auto recordset = OpenDiary(file)->OpenRecordset("Table1", 2);
            const auto rows = ReadAll(*recordset, 1);
            std::vector<Variant> first;
            for (const auto& row : rows) {
                first.push_back(row[0]);
            }
            EXPECT_EQ(first, (std::vector<Variant>{std::string("row1col1"), std::string("row2col1"),
                                                   Null{}, std::string("row4col1"), Null{}, Null{},
                                                   std::string("row7col1")}))
                << file;
        }
    }
}

} // namespace
} // namespace zurodid::jettest
