// save_race: the agent's own engine and fill against a diary that another process saves in
// place, page by page, the whole time (page gaps of 0 to 15 ms, every other save truncating
// the file first, bursts of saves and rests between them). Runs Refresh-like reads (the
// agent's objects opened again and its list filled, or its kept recordsets walked again, a
// failed read keeping the list it had) and start-up-like opens (a new engine, nothing to
// keep), then reports:
//   lost       a list left empty or not exactly one saved version
//   wrong      a list holding rows of both versions
//   other      a failure other than "the diary is being saved" (3260)
//   longest    the longest single engine call, and the longest Refresh or start-up as a whole
// Exit status 0 only when nothing was lost or wrong and there was no other failure.
//
//   save_race [--refreshes N] [--startups N] [--seed S] [--quiet-ms MS] [--budget-ms MS]
//
// --quiet-ms and --budget-ms change the engine's quiet period and busy budget (200 and 1000);
// --quiet-ms 0 shows what reading a file that was written a moment ago costs.
#include "DiaryRewriter.h"
#include "platform/RuntimeError.h"
#include "store/Dao.h"
#include "store/ListFill.h"
#include "store/jet/JetEngine.h"
#include "support/TempFolder.h"
#include "tools/make-diary/DiaryWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace zurodid;
using Clock = std::chrono::steady_clock;
using Subjects = std::vector<std::string>;

constexpr int kAppointments = 200;

DateTime Today() {
    using namespace std::chrono;
    return DateTime(local_days(year(2026) / 5 / 1));
}

fixture::Diary Version(char letter) {
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < kAppointments; ++i)
        diary.tables[1].rows.push_back(
            {Today() + std::chrono::minutes(i),
             "Version " + std::string(1, letter) + " appointment " + std::to_string(1000 + i)});
    for (int i = 0; i < 20; ++i)
        diary.tables[0].rows.push_back(
            {Today() + std::chrono::days(i), "Version " + std::string(1, letter) + " birthday"});
    return diary;
}

struct Tally {
    int runs = 0, listed = 0, busy = 0, lost = 0, wrong = 0;
    std::map<int, int> other;
    Clock::duration longestCall{}, longestRun{};
};

// Times one engine call; the longest stretch the agent's thread would be blocked.
template <typename Call> auto Timed(Tally& tally, Call&& call) {
    const auto start = Clock::now();
    struct Note {
        Tally& tally;
        Clock::time_point start;
        ~Note() { tally.longestCall = std::max(tally.longestCall, Clock::now() - start); }
    } note{tally, start};
    return call();
}

// The agent's list, as its fill leaves it; empty when a read failed.
Subjects Fill(Recordset& appointments, Tally& tally) {
    ListView rows;
    ListFillMembers members;
    FillError error;
    const FillEnd end = Timed(tally, [&] {
        return FillAgentAppointments(&appointments, 1, Today(), rows, members, &error);
    });
    if (end != FillEnd::Complete)
        throw RuntimeError(error.number, error.text);
    Subjects subjects;
    for (int k = 1; k <= rows.ListItems.Count(); ++k)
        subjects.push_back(rows.ListItems.Item(k).SubItems(3));
    return subjects;
}

struct Opened {
    std::shared_ptr<Database> database;
    std::shared_ptr<Recordset> anniversaries, appointments;
};

Opened Open(DBEngine& engine, const std::filesystem::path& file, Tally& tally) {
    auto workspace = engine.CreateWorkspace("Zurodid", "Admin", "");
    Opened opened;
    opened.database =
        Timed(tally, [&] { return workspace->OpenDatabase(file, false, false, ";PWD="); });
    opened.anniversaries =
        Timed(tally, [&] { return opened.database->OpenRecordset("Anniversary", dbOpenDynaset); });
    opened.appointments =
        Timed(tally, [&] { return opened.database->OpenRecordset("Appointment", dbOpenDynaset); });
    return opened;
}

void Judge(const Subjects& list, const std::vector<Subjects>& versions, Tally& tally) {
    if (list == versions[0] || list == versions[1])
        return;
    ++tally.lost;
    bool a = false, b = false;
    for (const auto& subject : list) {
        a = a || subject.starts_with("Version A");
        b = b || subject.starts_with("Version B");
    }
    if (a && b)
        ++tally.wrong;
}

int Others(const Tally& tally) {
    int count = 0;
    for (const auto& entry : tally.other)
        count += entry.second;
    return count;
}

void Print(const char* what, const Tally& tally) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::printf("%-10s %5d runs: %5d read, %4d busy (list kept or read later), %d lost, %d wrong,"
                " %d other; longest call %lld ms, longest %s %lld ms\n",
                what, tally.runs, tally.listed, tally.busy, tally.lost, tally.wrong, Others(tally),
                static_cast<long long>(duration_cast<milliseconds>(tally.longestCall).count()),
                what,
                static_cast<long long>(duration_cast<milliseconds>(tally.longestRun).count()));
    for (const auto& [number, count] : tally.other)
        std::printf("           error %d: %d times\n", number, count);
}

} // namespace

int main(int argc, char** argv) {
    int refreshes = 500, startups = 100;
    std::uint32_t seed = 17;
    jet::ReaderOptions reader;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--refreshes") == 0)
            refreshes = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--startups") == 0)
            startups = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--quiet-ms") == 0)
            reader.quietPeriod = std::chrono::milliseconds(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--budget-ms") == 0)
            reader.busyBudget = std::chrono::milliseconds(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else {
            std::fprintf(stderr, "usage: save_race [--refreshes N] [--startups N] [--seed S] "
                                 "[--quiet-ms MS] [--budget-ms MS]\n");
            return 2;
        }
    }
    testing::TempFolder folder;
    std::vector<std::string> bytes;
    std::vector<Subjects> versions;
    Tally ignored;
    for (char letter : {'A', 'B'}) {
        const auto file = folder / (std::string(1, letter) + ".mdb");
        fixture::WriteJet3(Version(letter), file);
        auto opened = Open(*MakeJetEngine(), file, ignored);
        versions.push_back(Fill(*opened.appointments, ignored));
        std::ifstream in(file, std::ios::binary);
        bytes.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto file = folder / "Zurodid.mdb";
    std::ofstream(file, std::ios::binary) << bytes[0];

    // The agent as it runs: one engine, its objects and list kept while a read fails.
    const auto engine = jet::MakeJetEngine(reader);
    Opened agent = Open(*engine, file, ignored);
    Subjects list = Fill(*agent.appointments, ignored);

    jettest::RewriteOptions options;
    options.pageGap = std::chrono::milliseconds(15);
    options.randomGaps = true;
    options.truncates = true;
    options.shortRest = std::chrono::milliseconds(10);
    options.longRest = std::chrono::milliseconds(400);
    options.seed = seed;
    jettest::DiaryRewriter writer(file, bytes, options);

    Tally refresh, startup;
    const auto started = Clock::now();
    for (int run = 0; run < refreshes + startups; ++run) {
        // The start-ups spread evenly among the Refreshes.
        const int total = refreshes + startups;
        const bool isRefresh = run * startups / total == (run + 1) * startups / total;
        Tally& tally = isRefresh ? refresh : startup;
        ++tally.runs;
        const auto start = Clock::now();
        try {
            if (isRefresh) {
                // A Refresh opens everything again; a new day walks the kept recordsets.
                if (run % 2 == 0) {
                    Opened fresh = Open(*engine, file, tally);
                    Subjects filled = Fill(*fresh.appointments, tally);
                    agent = fresh;
                    list = std::move(filled);
                } else {
                    list = Fill(*agent.appointments, tally);
                }
                Judge(list, versions, tally);
            } else {
                auto own = jet::MakeJetEngine(reader);
                Opened opened = Open(*own, file, tally);
                Judge(Fill(*opened.appointments, tally), versions, tally);
            }
            ++tally.listed;
        } catch (const RuntimeError& error) {
            if (error.Number() == ErrorNumber::DiaryBusy) {
                ++tally.busy;
                if (isRefresh)
                    Judge(list, versions, tally); // the list the agent keeps
            } else {
                ++tally.other[error.Number()];
            }
        }
        tally.longestRun = std::max(tally.longestRun, Clock::now() - start);
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
    std::printf(
        "save_race: %lld s, %lld saves by the writer, longest page gap %lld ms\n",
        static_cast<long long>(seconds), static_cast<long long>(writer.Saves()),
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(writer.LongestGap()).count()));
    Print("Refresh", refresh);
    Print("start-up", startup);
    const bool clean = refresh.lost + refresh.wrong + startup.lost + startup.wrong == 0 &&
                       refresh.other.empty() && startup.other.empty();
    return clean ? 0 : 1;
}
