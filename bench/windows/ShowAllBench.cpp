// The list window's fill over a diary of 10,000 anniversaries and 32,767 appointments, every
// row listed, against the bare open-and-walk of both tables in the same run (target: at most
// 1.3 times). The fill does not open the diary; it is timed alone, with the open, and against
// the walk alone, so that each reading of the target can be checked.
#include "store/Dao.h"
#include "support/BenchRun.h"
#include "support/FakeDesktop.h"
#include "tools/make-diary/DiaryWriter.h"
#include "windows/frmList.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

using namespace zurodid;
using namespace std::chrono;

constexpr int kAnniversaries = 10000;
constexpr int kAppointments = 32767;
const DateTime kToday = DateTime(local_days(year(2026) / 12 / 7)) + hours(8);

std::filesystem::path DiaryFile() {
    return bench::RunFolder() / "Zurodid.mdb";
}

// Anniversaries over every day of the year, appointments over the coming 30 days: with
// windows of 365 and 30 days every row is listed once.
void WriteBenchDiary(const std::filesystem::path& file) {
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < kAnniversaries; ++i)
        diary.tables[0].rows.push_back(
            {DateTime(local_days(year(1950 + i % 60) / 1 / 1)) + days(i % 365),
             "วันเกิด " + std::to_string(i)});
    for (int i = 0; i < kAppointments; ++i)
        diary.tables[1].rows.push_back(
            {kToday + minutes(i * 37 % (30 * 24 * 60)), "ประชุมทีม ห้อง " + std::to_string(i % 40)});
    fixture::WriteJet3(diary, file);
}

DiaryStore OpenDiary(DBEngine& engine) {
    DiaryStore store;
    store.wsDiary = engine.CreateWorkspace("", "admin", "");
    store.dbDiary = store.wsDiary->OpenDatabase(DiaryFile(), false, false, ";PWD=");
    store.rsAnniversary = store.dbDiary->OpenRecordset("Anniversary", dbOpenDynaset);
    store.rsAppointment = store.dbDiary->OpenRecordset("Appointment", dbOpenDynaset);
    return store;
}

std::size_t Walk(Recordset& recordset) {
    std::size_t rows = 0;
    recordset.MoveFirst();
    while (!recordset.Eof()) {
        benchmark::DoNotOptimize(recordset.Fields(0).Value());
        benchmark::DoNotOptimize(recordset.Fields(1).Value());
        ++rows;
        recordset.MoveNext();
    }
    return rows;
}

void OpenAndWalk(benchmark::State& state) {
    const auto engine = MakeJetEngine();
    std::size_t rows = 0;
    for (auto _ : state) {
        DiaryStore store = OpenDiary(*engine);
        rows = Walk(*store.rsAnniversary) + Walk(*store.rsAppointment);
    }
    if (rows != kAnniversaries + kAppointments)
        state.SkipWithError("the walk missed rows");
    state.counters["rows"] = static_cast<double>(rows);
}

// The list window over the bench diary, both windows wide enough for every row.
struct ListWindow {
    ListWindow() : process([] { return DiaryFile().parent_path(); }, MakeJetEngine()) {
        process.AgentSettings.AnniversaryStartUp = 365;
        process.AgentSettings.AppointmentStartUp = 30;
    }
    void Reopen() {
        process.DiaryStore = {}; // as the walk: the last run's tables are gone before the open
        process.DiaryStore = OpenDiary(*process.DBEngine);
    }
    int Rows() const {
        return list.lvAnniversary.ListItems.Count() + list.lvAppointment.ListItems.Count();
    }

    testing::FakeDesktop desktop;
    testing::FakeClock clock{kToday};
    ProcessState process;
    frmList list{process, desktop, clock};
};

void OpenAndShowAll(benchmark::State& state) {
    ListWindow window;
    for (auto _ : state) {
        window.Reopen();
        window.list.ShowAll();
    }
    if (window.Rows() < kAnniversaries + kAppointments || !window.desktop.boxes.empty())
        state.SkipWithError("the fill missed rows");
    state.counters["rows"] = window.Rows();
}

// The same two without the open: the window's own cost over the data access it needs.
void WalkOnly(benchmark::State& state) {
    const auto engine = MakeJetEngine();
    for (auto _ : state) {
        state.PauseTiming();
        DiaryStore store = OpenDiary(*engine);
        state.ResumeTiming();
        benchmark::DoNotOptimize(Walk(*store.rsAnniversary) + Walk(*store.rsAppointment));
        state.PauseTiming();
        store = {};
        state.ResumeTiming();
    }
}

void ShowAllOnly(benchmark::State& state) {
    ListWindow window;
    for (auto _ : state) {
        state.PauseTiming();
        window.Reopen();
        state.ResumeTiming();
        window.list.ShowAll();
    }
    state.counters["rows"] = window.Rows();
}

BENCHMARK(OpenAndWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(OpenAndShowAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(WalkOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ShowAllOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return bench::RunBenchmarks(argc, argv,
                                {[] { WriteBenchDiary(DiaryFile()); },
                                 {{"ShowAllOnly", "OpenAndWalk", 1.3},
                                  {"OpenAndShowAll", "OpenAndWalk", 0},
                                  {"ShowAllOnly", "WalkOnly", 0}}});
}
