// damaged_diaries: generates damaged diaries from a fixed seed and runs the agent's own engine
// over each (open with the password, both recordsets, every field of every row). Reports the
// outcome per kind of damage, the slowest files, and every crash, hang or leftover process of
// the agent's side (expected: none). Exit status 0 only when there were none.
//
//   damaged_diaries [--count N] [--seed S] [--first I] [--shared DIR] [--keep DIR]
//
// File I is generated from (S, I) alone, so `--first I --count 1 --keep DIR` writes it again.
// Jet 3 diaries come from the project's fixture writer; Jet 4 files (which the writer cannot
// write) and further Jet 3 files are the Access-written fixtures in DIR/fixtures/mdb, read
// from there (default: $ZURODID_SHARED_DIR or the "shared" folder beside the source tree).
#include "platform/RuntimeError.h"
#include "store/Dao.h"
#include "store/jet/JetErrors.h"
#include "tools/make-diary/DiaryDamage.h"
#include "tools/make-diary/DiaryWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zurodid;
using Clock = std::chrono::steady_clock;

// Far beyond the engine's own limits (5 s per table read): the agent's side itself is stuck.
constexpr int kHangLimitMs = 60'000;
constexpr std::uint32_t kFilesPerWorker = 500;
constexpr int kEscaped = -1; // something other than an engine error left the engine
constexpr std::size_t kSlowestShown = 10;

struct BaseDiary {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string password;
    std::vector<std::string> tables;
};

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The file as a diary at rest: its time an hour back, so that the engine does not wait for
// it to be quiet as it would right after a save.
bool WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            return false;
    }
    std::error_code error;
    std::filesystem::last_write_time(
        file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1), error);
    return !error;
}

// A diary of a few pages per table, with a memo column so that long values span pages.
fixture::Diary MadeDiary(const std::string& password) {
    using namespace std::chrono;
    auto diary = fixture::StandardDiary();
    diary.password = password;
    diary.tables[0].columns.push_back({"Notes", fixture::ColumnType::Memo});
    const DateTime start(local_days(year(2026) / 1 / 1));
    for (int i = 0; i < 300; ++i) {
        diary.tables[0].rows.push_back({start - years(40) + days(i * 7),
                                        "วันเกิด " + std::to_string(i),
                                        std::string(static_cast<std::size_t>(i % 5) * 900, 'n')});
        diary.tables[1].rows.push_back({start + minutes(i * 97), "นัด " + std::to_string(i)});
    }
    return diary;
}

std::filesystem::path DefaultShared() {
    if (const char* dir = std::getenv("ZURODID_SHARED_DIR")) {
        return dir;
    }
    return ZURODID_SHARED_DEFAULT;
}

std::vector<BaseDiary> LoadBases(const std::filesystem::path& work,
                                 const std::filesystem::path& shared) {
    std::vector<BaseDiary> bases;
    const std::vector<std::string> diaryTables = {"Anniversary", "Appointment"};
    for (const auto& [name, password] : {std::pair<std::string, std::string>{"made Jet 3", ""},
                                         {"made Jet 3 + password", "ลับ-2026"}}) {
        const auto file = work / "base.mdb";
        fixture::WriteJet3(MadeDiary(password), file);
        bases.push_back({name, ReadBytes(file), password, diaryTables});
    }
    // Access-written files: their own tables stand in for the diary's two.
    struct Fixture {
        const char* path;
        const char* password;
        std::vector<std::string> tables;
    };
    const std::vector<Fixture> fixtures = {
        {"mdb-reader/V1997_no-password.mdb", "", {"Table1", "Table2"}},
        {"jackcess/overflowTestV1997.mdb", "", {"Table1"}},
        {"jackcess/delTestV1997.mdb", "", {"Table"}},
        {"mdb-reader/V2000_no-password.mdb", "", {"Table1"}},
        {"mdb-reader/V2003_no-password.mdb", "", {"Table1"}},
        {"mdb-reader/V2000_with-password.mdb", "password", {"Table1"}},
        {"mdb-reader/V2003_with-password.mdb", "password", {"Table1"}},
        {"jackcess/delTestV2000.mdb", "", {"Table"}},
        {"jackcess/testUnicodeCompV2003.mdb", "", {"Table"}},
    };
    const auto folder = shared / "fixtures" / "mdb";
    if (!std::filesystem::is_directory(folder)) {
        std::printf("note: %s is absent: Jet 3 diaries from the fixture writer only, no Jet 4\n",
                    folder.c_str());
        return bases;
    }
    for (const auto& fixture : fixtures) {
        auto bytes = ReadBytes(folder / fixture.path);
        if (bytes.empty()) {
            std::printf("note: %s is missing; left out\n", (folder / fixture.path).c_str());
            continue;
        }
        const bool jet4 = bytes.size() > 0x14 && bytes[0x14] != 0;
        bases.push_back({std::string(jet4 ? "Access Jet 4 " : "Access Jet 3 ") +
                             std::filesystem::path(fixture.path).filename().string(),
                         std::move(bytes), fixture.password, fixture.tables});
    }
    return bases;
}

struct Plan {
    std::size_t base = 0;
    fixture::damage::Kind kind{};
    std::vector<std::uint8_t> bytes;
};

Plan PlanFile(const std::vector<BaseDiary>& bases, std::uint64_t seed, std::uint64_t index) {
    std::mt19937_64 random(seed ^ (index * 0x9E3779B97F4A7C15ull));
    Plan plan;
    plan.base = std::uniform_int_distribution<std::size_t>(0, bases.size() - 1)(random);
    plan.kind = fixture::damage::kAllKinds[std::uniform_int_distribution<std::size_t>(
        0, fixture::damage::kAllKinds.size() - 1)(random)];
    plan.bytes = fixture::damage::Damage(bases[plan.base].bytes, plan.kind, random);
    return plan;
}

constexpr int kReadOtherRowCount = 1;

// Everything the agent would touch: the password check, both recordsets, every field. 0 when
// it read `expectedRows` rows (none expected: any number), kReadOtherRowCount when it read
// to the end but found another number of rows, else the engine's error number.
int ReadLikeTheAgent(DBEngine& engine, const std::filesystem::path& file, const BaseDiary& base,
                     std::optional<std::size_t> expectedRows = std::nullopt,
                     std::size_t* rowsRead = nullptr) {
    try {
        std::size_t rows = 0;
        auto workspace = engine.CreateWorkspace("Zurodid", "Admin", "");
        auto database = workspace->OpenDatabase(file, false, false, ";PWD=" + base.password);
        std::size_t touched = 0;
        for (const auto& table : base.tables) {
            auto recordset = database->OpenRecordset(table, dbOpenDynaset);
            if (recordset->RecordCount() == 0) {
                continue;
            }
            for (recordset->MoveFirst(); !recordset->Eof(); recordset->MoveNext()) {
                ++rows;
                for (int field = 0; field <= INT16_MAX; ++field) {
                    try {
                        const Variant value =
                            recordset->Fields(static_cast<std::int16_t>(field)).Value();
                        touched += IsNull(value) ? 0 : TextOf(value).size();
                    } catch (const RuntimeError& error) {
                        if (error.Number() == jet::kItemNotFound) {
                            break; // past the last field
                        }
                        throw;
                    }
                }
            }
        }
        if (rowsRead != nullptr) {
            *rowsRead = rows + (touched == SIZE_MAX ? 1 : 0); // keeps the walk
        }
        return expectedRows && rows != *expectedRows ? kReadOtherRowCount : 0;
    } catch (const RuntimeError& error) {
        return error.Number();
    } catch (...) {
        return kEscaped;
    }
}

enum RecordType : std::uint8_t { kStart = 1, kDone = 2, kPeak = 3 };
struct Record {
    std::uint8_t type = 0;
    std::uint32_t index = 0;
    std::int32_t outcome = 0;
    std::uint32_t micros = 0;
    std::uint32_t leftovers = 0;
    std::uint64_t selfPeakKb = 0;
    std::uint64_t childPeakKb = 0;
};

void Send(int fd, const Record& record) {
    // One record is far below PIPE_BUF: written whole or not at all.
    while (::write(fd, &record, sizeof record) < 0 && errno == EINTR) {
    }
}

// Children of this process still running or unreaped.
std::uint32_t CountOwnChildren() {
    std::uint32_t count = 0;
    for (;;) {
        errno = 0;
        const pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
        if (pid > 0) {
            ++count; // an unreaped child: reaped now, counted as left behind
            continue;
        }
        if (pid == 0) {
            ++count; // a running one: it comes to the supervisor when this worker ends
        }
        return count;
    }
}

[[noreturn]] void RunWorker(int out, const std::vector<BaseDiary>& bases, std::uint64_t seed,
                            std::uint64_t first, std::uint64_t end,
                            const std::filesystem::path& file) {
    const auto engine = MakeJetEngine();
    // What each undamaged base reads as.
    std::vector<std::optional<std::size_t>> baseRows;
    for (const auto& base : bases) {
        std::size_t rows = 0;
        WriteBytes(file, base.bytes);
        const bool read = ReadLikeTheAgent(*engine, file, base, std::nullopt, &rows) == 0;
        baseRows.push_back(read ? std::optional(rows) : std::nullopt);
    }
    for (std::uint64_t index = first; index < end; ++index) {
        Send(out, {kStart, static_cast<std::uint32_t>(index)});
        const Plan plan = PlanFile(bases, seed, index);
        Record done{kDone, static_cast<std::uint32_t>(index)};
        if (!WriteBytes(file, plan.bytes)) {
            done.outcome = ErrorNumber::EngineFailure;
            Send(out, done);
            continue;
        }
        const auto started = Clock::now();
        done.outcome = ReadLikeTheAgent(*engine, file, bases[plan.base], baseRows[plan.base]);
        done.micros = static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count());
        done.leftovers = CountOwnChildren();
        Send(out, done);
    }
    rusage self{};
    rusage children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    Record peak{kPeak};
    peak.selfPeakKb = static_cast<std::uint64_t>(self.ru_maxrss);
    peak.childPeakKb = static_cast<std::uint64_t>(children.ru_maxrss);
    Send(out, peak);
    ::_exit(0);
}

// Processes whose parent is this one, other than `except`: readers orphaned by a dead worker
// come back to us as the subreaper.
std::vector<pid_t> StrayChildren(pid_t except) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid <= 0 || pid == except) {
            continue;
        }
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        int parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == self) {
            found.push_back(pid);
        }
    }
    ::closedir(proc);
    return found;
}

struct Totals {
    std::map<std::pair<int, int>, std::uint64_t> byKindAndOutcome; // (kind, outcome)
    std::map<int, std::uint64_t> byOutcome;
    std::map<std::size_t, std::uint64_t> byBase;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> slowest; // (micros, index)
    std::uint64_t files = 0, crashes = 0, hangs = 0, leftovers = 0, escaped = 0;
    std::uint64_t selfPeakKb = 0, childPeakKb = 0;
    std::uint64_t totalMicros = 0;
    std::vector<std::uint32_t> failed;
};

std::string OutcomeName(int outcome) {
    switch (outcome) {
    case 0:
        return "read to the end, all rows";
    case kReadOtherRowCount:
        return "read to the end, another number of rows";
    case kEscaped:
        return "ESCAPED (not an engine error)";
    case -2:
        return "CRASH";
    case -3:
        return "HANG";
    case ErrorNumber::NotValidPassword:
        return "3031 not a valid password";
    case ErrorNumber::DatabaseDamaged:
        return "3049 damaged";
    case ErrorNumber::TableNotFound:
        return "3078 no such table";
    case ErrorNumber::UnrecognizedFormat:
        return "3343 unrecognized format";
    case ErrorNumber::FileNotFound:
        return "3024 file not found";
    default:
        return std::to_string(outcome) + " other engine error";
    }
}

struct Options {
    std::uint64_t count = 100'000;
    std::uint64_t seed = 20261208;
    std::uint64_t first = 0;
    std::filesystem::path shared = DefaultShared();
    std::filesystem::path keep;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (flag == "--count") {
            options.count = std::stoull(value);
        } else if (flag == "--seed") {
            options.seed = std::stoull(value);
        } else if (flag == "--first") {
            options.first = std::stoull(value);
        } else if (flag == "--shared") {
            options.shared = value;
        } else if (flag == "--keep") {
            options.keep = value;
        } else {
            return false;
        }
    }
    return true;
}

void Account(Totals& totals, const std::vector<BaseDiary>& bases, const Options& options,
             std::uint32_t index, int outcome, std::uint32_t micros) {
    const Plan plan = PlanFile(bases, options.seed, index);
    ++totals.files;
    ++totals.byKindAndOutcome[{static_cast<int>(plan.kind), outcome}];
    ++totals.byOutcome[outcome];
    ++totals.byBase[plan.base];
    totals.totalMicros += micros;
    totals.slowest.emplace_back(micros, index);
    std::sort(totals.slowest.rbegin(), totals.slowest.rend());
    if (totals.slowest.size() > kSlowestShown) {
        totals.slowest.pop_back();
    }
}

void Report(const Totals& totals, const std::vector<BaseDiary>& bases, const Options& options,
            double seconds) {
    std::printf("\n%llu damaged diaries (seed %llu, files %llu..%llu) in %.0f s\n",
                static_cast<unsigned long long>(totals.files),
                static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.first),
                static_cast<unsigned long long>(options.first + options.count - 1), seconds);
    std::printf("\nfrom base diary:\n");
    for (const auto& [base, count] : totals.byBase) {
        std::printf("  %8llu  %s%s\n", static_cast<unsigned long long>(count),
                    bases[base].name.c_str(), bases[base].password.empty() ? "" : " (password)");
    }
    std::printf("\noutcome per kind of damage:\n");
    for (const auto kind : fixture::damage::kAllKinds) {
        std::printf("  %s\n", std::string(fixture::damage::NameOf(kind)).c_str());
        for (const auto& [key, count] : totals.byKindAndOutcome) {
            if (key.first == static_cast<int>(kind)) {
                std::printf("    %8llu  %s\n", static_cast<unsigned long long>(count),
                            OutcomeName(key.second).c_str());
            }
        }
    }
    std::printf("\noutcome over all files:\n");
    for (const auto& [outcome, count] : totals.byOutcome) {
        std::printf("  %8llu  %s\n", static_cast<unsigned long long>(count),
                    OutcomeName(outcome).c_str());
    }
    std::printf("\nslowest files (reproduce: --seed %llu --first INDEX --count 1 --keep DIR):\n",
                static_cast<unsigned long long>(options.seed));
    for (const auto& [micros, index] : totals.slowest) {
        const Plan plan = PlanFile(bases, options.seed, index);
        std::printf("  %9.1f ms  file %u  %s, %s\n", micros / 1000.0, index,
                    bases[plan.base].name.c_str(),
                    std::string(fixture::damage::NameOf(plan.kind)).c_str());
    }
    const auto asDouble = [](std::uint64_t value) { return static_cast<double>(value); };
    std::printf("\nmean %.2f ms a file\n",
                totals.files ? asDouble(totals.totalMicros) / 1000.0 / asDouble(totals.files) : 0);
    std::printf("peak resident memory: agent side %.1f MB, largest reading child %.1f MB\n",
                asDouble(totals.selfPeakKb) / 1024.0, asDouble(totals.childPeakKb) / 1024.0);
    std::printf("crashes %llu, hangs %llu, leftover processes %llu, escaped exceptions %llu "
                "(expected 0 each)\n",
                static_cast<unsigned long long>(totals.crashes),
                static_cast<unsigned long long>(totals.hangs),
                static_cast<unsigned long long>(totals.leftovers),
                static_cast<unsigned long long>(totals.escaped));
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: damaged_diaries [--count N] [--seed S] [--first I] "
                             "[--shared DIR] [--keep DIR]\n");
        return 2;
    }
    char pattern[] = "/tmp/zurodid-damaged-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path work = pattern;
    const auto bases = LoadBases(work, options.shared);
    // Readers orphaned by a worker that died come back here, to be counted and ended.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    Totals totals;
    const auto started = Clock::now();
    const std::uint64_t end = options.first + options.count;
    std::uint64_t next = options.first;
    auto lastProgress = Clock::now();
    while (next < end) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            std::perror("pipe");
            return 1;
        }
        const std::uint64_t batchEnd = std::min(end, next + kFilesPerWorker);
        const pid_t worker = ::fork();
        if (worker < 0) {
            std::perror("fork");
            return 1;
        }
        if (worker == 0) {
            ::close(fds[0]);
            RunWorker(fds[1], bases, options.seed, next, batchEnd, work / "Zurodid.mdb");
        }
        ::close(fds[1]);
        bool inFile = false;
        std::uint32_t current = 0;
        bool hung = false;
        for (;;) {
            pollfd readable{fds[0], POLLIN, 0};
            const int ready = ::poll(&readable, 1, kHangLimitMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready == 0) {
                hung = true;
                break;
            }
            Record record;
            const ssize_t got = ::read(fds[0], &record, sizeof record);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got != static_cast<ssize_t>(sizeof record)) {
                break; // the worker ended
            }
            if (record.type == kStart) {
                inFile = true;
                current = record.index;
            } else if (record.type == kDone) {
                inFile = false;
                next = record.index + 1ull;
                Account(totals, bases, options, record.index, record.outcome, record.micros);
                if (record.outcome == kEscaped) {
                    ++totals.escaped;
                    totals.failed.push_back(record.index);
                }
                if (record.leftovers > 0) {
                    totals.leftovers += record.leftovers;
                    totals.failed.push_back(record.index);
                }
            } else if (record.type == kPeak) {
                totals.selfPeakKb = std::max(totals.selfPeakKb, record.selfPeakKb);
                totals.childPeakKb = std::max(totals.childPeakKb, record.childPeakKb);
            }
        }
        ::close(fds[0]);
        if (hung) {
            ::kill(worker, SIGKILL);
        }
        int status = 0;
        while (::waitpid(worker, &status, 0) < 0 && errno == EINTR) {
        }
        const bool died = hung || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        if (died) {
            // The file in hand when the worker died or stuck; a death between files is
            // charged to the next one.
            const std::uint32_t index = inFile ? current : static_cast<std::uint32_t>(next);
            Account(totals, bases, options, index, hung ? -3 : -2, 0);
            ++(hung ? totals.hangs : totals.crashes);
            totals.failed.push_back(index);
            next = index + 1ull;
        }
        for (const pid_t stray : StrayChildren(-1)) {
            ++totals.leftovers;
            ::kill(stray, SIGKILL);
            ::waitpid(stray, nullptr, 0);
        }
        if (Clock::now() - lastProgress > std::chrono::seconds(60)) {
            lastProgress = Clock::now();
            std::fprintf(
                stderr, "%llu files, %llu s\n", static_cast<unsigned long long>(totals.files),
                static_cast<unsigned long long>(
                    std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started)
                        .count()));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    Report(totals, bases, options, seconds);
    if (!options.keep.empty()) {
        std::filesystem::create_directories(options.keep);
        auto keep = totals.failed;
        for (const auto& slow : totals.slowest) {
            keep.push_back(slow.second);
        }
        for (const auto index : keep) {
            const auto name = "damaged-" + std::to_string(index) + ".mdb";
            WriteBytes(options.keep / name, PlanFile(bases, options.seed, index).bytes);
        }
        std::printf("kept %zu files in %s\n", keep.size(), options.keep.c_str());
    }
    std::filesystem::remove_all(work);
    const bool clean = totals.crashes == 0 && totals.hangs == 0 && totals.leftovers == 0 &&
                       totals.escaped == 0 && totals.files == options.count;
    return clean ? 0 : 1;
}
