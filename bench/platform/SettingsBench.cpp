// Reading the five settings at start-up, from a typical file.
#include "store/AgentSettings.h"
#include "store/Module1.h"
#include "support/BenchRun.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>

namespace {

void BM_ReadFiveSettings(benchmark::State& state) {
    const std::filesystem::path& folder = zurodid::bench::RunFolder();
    std::ofstream(folder / "Zurodid.ini", std::ios::binary)
        << "[Agent]\r\nStartUpRemind=1\r\nAnniversaryStartUp=7\r\nAppointmentStartUp=3\r\n"
           "Remind=1\r\nAppointmentRemind=15\r\n";
    zurodid::Module1 module1([&] { return folder; });
    zurodid::AgentSettings settings;
    for (auto _ : state) {
        for (const auto& key : zurodid::kSettingKeys)
            settings.*key.member = zurodid::ReadSetting(module1, key.name);
        benchmark::DoNotOptimize(settings);
    }
}
BENCHMARK(BM_ReadFiveSettings)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return zurodid::bench::RunBenchmarks(argc, argv);
}
