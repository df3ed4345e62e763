// One tick of the reminder timer with a full list of 32,767 rows due later today.
#include "agent/frmAgent.h"
#include "support/AgentTestAccess.h"
#include "support/BenchRun.h"
#include "support/FakeDesktop.h"

#include <benchmark/benchmark.h>

namespace {

using namespace zurodid;

void BM_Timer1Tick(benchmark::State& state) {
    testing::FakeDesktop desktop;
    testing::FakeClock clock;
    ProcessState process([] { return std::filesystem::path("/nonexistent"); }, nullptr);
    process.AgentSettings.Remind = 1;
    process.AgentSettings.AppointmentRemind = 10;
    frmAgent agent(process, desktop, clock);
    for (int i = 0; i < 32767; ++i) {
        ListItem& row = agent.lvAppointment.ListItems.Add(ItemNumberText(i + 1));
        row.SetSubItems(1, "08/12/2026");
        row.SetSubItems(2, "23:59");
        row.SetSubItems(3, "a subject of ordinary length");
    }
    clock.now = MakeDateTime(std::chrono::year{2026} / 12 / 8, std::chrono::hours{9});
    frmAgentTestAccess::RowsFilledAt(agent, clock.now); // every row waiting

    for (auto _ : state)
        agent.Timer1_Timer();
    if (!desktop.boxes.empty() || frmAgentTestAccess::AlarmCursor(agent) != 1)
        state.SkipWithError("the tick did more than wait");
}
BENCHMARK(BM_Timer1Tick);

} // namespace

int main(int argc, char** argv) {
    return zurodid::bench::RunBenchmarks(argc, argv);
}
