// The agent's start-up on a diary of 32,767 appointments all due today, against the bare open
// and walk of the same table through the engine, in the same run.
#include "agent/SystemClock.h"
#include "agent/frmAgent.h"
#include "support/BenchRun.h"
#include "support/FakeDesktop.h"
#include "tools/make-diary/DiaryWriter.h"

#include <benchmark/benchmark.h>
#include <filesystem>

namespace {

using namespace zurodid;

const std::filesystem::path& DiaryFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path& path = bench::RunFolder();
        fixture::Diary diary = fixture::StandardDiary();
        DateTime today = std::chrono::floor<std::chrono::days>(LocalNow());
        for (auto& table : diary.tables)
            if (table.name == "Appointment")
                for (int i = 0; i < 32767; ++i)
                    table.rows.push_back({Variant{today + std::chrono::minutes{i % 1440}},
                                          Variant{"Appointment number " + std::to_string(i)}});
        fixture::WriteJet3(diary, path / "Zurodid.mdb");
        return path;
    }();
    return folder;
}

// The open and walk of the Appointment table; with both tables opened (as the start-up must),
// when the argument is 1.
void BM_OpenAndWalk(benchmark::State& state) {
    auto engine = MakeJetEngine();
    for (auto _ : state) {
        auto database = engine->CreateWorkspace("Zurodid", "Admin", "")
                            ->OpenDatabase(DiaryFolder() / "Zurodid.mdb", false, false, ";PWD=");
        std::shared_ptr<Recordset> anniversaries;
        if (state.range(0) == 1)
            anniversaries = database->OpenRecordset("Anniversary", dbOpenDynaset);
        auto rs = database->OpenRecordset("Appointment", dbOpenDynaset);
        std::size_t rows = 0;
        for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
            benchmark::DoNotOptimize(rs->Fields(0).Value());
            benchmark::DoNotOptimize(rs->Fields(1).Value());
            ++rows;
        }
        if (rows != 32767)
            state.SkipWithError("rows missing");
        // As for the start-up below: releasing the objects is not timed.
        state.PauseTiming();
        rs.reset();
        anniversaries.reset();
        database.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenAndWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FormLoad(benchmark::State& state) {
    testing::FakeDesktop desktop;
    SystemClock clock;
    for (auto _ : state) {
        auto process =
            std::make_unique<ProcessState>([] { return DiaryFolder(); }, MakeJetEngine());
        auto agent = std::make_unique<frmAgent>(*process, desktop, clock);
        agent->Form_Load();
        if (agent->lvAppointment.ListItems.Count() != 32767)
            state.SkipWithError("rows missing");
        // Taking the agent down is no part of its start-up.
        state.PauseTiming();
        agent.reset();
        process.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FormLoad)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The diary is written before the first run; the start-up is set against the bare open
    // and walk, with one table opened and with both.
    return zurodid::bench::RunBenchmarks(
        argc, argv,
        {[] { DiaryFolder(); },
         {{"BM_FormLoad", "BM_OpenAndWalk/0", 1.2}, {"BM_FormLoad", "BM_OpenAndWalk/1", 1.2}}});
}
