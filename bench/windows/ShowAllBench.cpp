// The list window's fill over a diary of 10,000 anniversaries and 32,767 appointments, every
// row listed, against the bare open-and-walk of both tables in the same run.
// Target: the fill takes at most 1.3 times the walk.
#include "store/Dao.h"
#include "support/FakeDesktop.h"
#include "support/FakeDiary.h"
#include "tools/make-diary/DiaryWriter.h"
#include "windows/frmList.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

using namespace zurodid;
using namespace std::chrono;

constexpr int kAnniversaries = 10000;
constexpr int kAppointments = 32767;
const DateTime kToday = DateTime(local_days(year(2026) / 12 / 7)) + hours(8);

std::filesystem::path& DiaryFile() {
    static std::filesystem::path file;
    return file;
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

// The same walk with the anniversaries visited twice, as the fill's two passes must: every
// visit of a dynaset row checks the file for a change, so this is the data access the fill
// cannot do without.
void OpenAndWalkAsTheFill(benchmark::State& state) {
    const auto engine = MakeJetEngine();
    for (auto _ : state) {
        DiaryStore store = OpenDiary(*engine);
        Walk(*store.rsAnniversary);
        Walk(*store.rsAnniversary);
        Walk(*store.rsAppointment);
    }
}

void OpenAndShowAll(benchmark::State& state) {
    testing::FakeDesktop desktop;
    testing::FakeClock clock;
    clock.now = kToday;
    ProcessState process([] { return DiaryFile().parent_path(); }, MakeJetEngine());
    process.AgentSettings.AnniversaryStartUp = 365;
    process.AgentSettings.AppointmentStartUp = 30;
    frmList list(process, desktop, clock);
    for (auto _ : state) {
        process.DiaryStore = OpenDiary(*process.DBEngine);
        list.ShowAll();
    }
    const int rows = list.lvAnniversary.ListItems.Count() + list.lvAppointment.ListItems.Count();
    if (rows < kAnniversaries + kAppointments || !desktop.boxes.empty())
        state.SkipWithError("the fill missed rows");
    state.counters["rows"] = rows;
}

// The fill alone, over the same rows held in memory: the window's own share.
void ShowAllInMemory(benchmark::State& state) {
    testing::FakeDesktop desktop;
    testing::FakeClock clock;
    clock.now = kToday;
    ProcessState process([] { return DiaryFile().parent_path(); }, MakeJetEngine());
    process.AgentSettings.AnniversaryStartUp = 365;
    process.AgentSettings.AppointmentStartUp = 30;
    DiaryStore store = OpenDiary(*process.DBEngine);
    testing::FakeTable anniversaries, appointments;
    for (auto [recordset, table] : {std::pair{store.rsAnniversary.get(), &anniversaries},
                                    std::pair{store.rsAppointment.get(), &appointments}}) {
        recordset->MoveFirst();
        for (; !recordset->Eof(); recordset->MoveNext())
            table->rows.push_back({recordset->Fields(0).Value(), recordset->Fields(1).Value()});
    }
    frmList list(process, desktop, clock);
    for (auto _ : state) {
        process.DiaryStore.rsAnniversary = std::make_shared<testing::FakeRecordset>(anniversaries);
        process.DiaryStore.rsAppointment = std::make_shared<testing::FakeRecordset>(appointments);
        list.ShowAll();
    }
    state.counters["rows"] =
        list.lvAnniversary.ListItems.Count() + list.lvAppointment.ListItems.Count();
}

BENCHMARK(OpenAndWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(OpenAndWalkAsTheFill)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(OpenAndShowAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ShowAllInMemory)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Prints the two results side by side once both ran.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                perIteration_[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double walk = Time("OpenAndWalk"), twice = Time("OpenAndWalkAsTheFill"),
               fill = Time("OpenAndShowAll");
        if (walk > 0 && fill > 0)
            std::printf("open+walk %.1f ms, open+ShowAll %.1f ms: ratio %.2f (target <= 1.30)\n",
                        walk * 1e3, fill * 1e3, fill / walk);
        if (twice > 0 && fill > 0)
            std::printf("open+walk with the anniversaries twice %.1f ms: ratio %.2f\n", twice * 1e3,
                        fill / twice);
    }

private:
    double Time(const std::string& name) const {
        auto found = perIteration_.find(name);
        return found == perIteration_.end() ? 0 : found->second;
    }
    std::map<std::string, double> perIteration_;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    char folder[] = "/tmp/zurodid-showall-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    DiaryFile() = std::filesystem::path(folder) / "Zurodid.mdb";
    WriteBenchDiary(DiaryFile());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
