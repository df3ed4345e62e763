// Opening and walking a 32,767-row Appointment table, against mdb-export on the same file in
// the same run. Target: open and walk take at most 1.5 times what mdb-export takes.
#include "store/Dao.h"
#include "tools/make-diary/DiaryWriter.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kAppointments = 32767;

std::filesystem::path& DiaryFile() {
    static std::filesystem::path file;
    return file;
}

void WriteBenchDiary(const std::filesystem::path& file) {
    using namespace std::chrono;
    auto diary = zurodid::fixture::StandardDiary();
    const auto start = zurodid::DateTime(local_days(year(2026) / 1 / 1)) + hours(8);
    for (int i = 0; i < kAppointments; ++i) {
        diary.tables[1].rows.push_back(
            {start + minutes(i * 37), "ประชุมทีม ห้อง " + std::to_string(i % 40)});
    }
    for (int i = 0; i < 500; ++i) {
        diary.tables[0].rows.push_back({start + days(i), "วันเกิด " + std::to_string(i)});
    }
    zurodid::fixture::WriteJet3(diary, file);
}

void OpenAndWalk(benchmark::State& state) {
    const auto engine = zurodid::MakeJetEngine();
    std::size_t rows = 0;
    for (auto _ : state) {
        auto workspace = engine->CreateWorkspace("Zurodid", "Admin", "");
        auto database = workspace->OpenDatabase(DiaryFile(), false, false, ";PWD=");
        auto recordset = database->OpenRecordset("Appointment", zurodid::dbOpenDynaset);
        rows = 0;
        recordset->MoveFirst();
        while (!recordset->Eof()) {
            benchmark::DoNotOptimize(recordset->Fields(0).Value());
            benchmark::DoNotOptimize(recordset->Fields(1).Value());
            ++rows;
            recordset->MoveNext();
        }
    }
    if (rows != kAppointments) {
        state.SkipWithError("the walk missed rows");
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void MdbExport(benchmark::State& state) {
    const std::string file = DiaryFile().string();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        char program[] = "mdb-export";
        char table[] = "Appointment";
        char* argv[] = {program, const_cast<char*>(file.c_str()), table, nullptr};
        pid_t pid = 0;
        const int failed = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (failed != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("mdb-export (Debian package mdbtools) did not run");
            break;
        }
    }
}

BENCHMARK(OpenAndWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(MdbExport)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Prints the two results side by side once both ran.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                perIteration_[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto ours = perIteration_.find("OpenAndWalk/min_time:2.000");
        const auto theirs = perIteration_.find("MdbExport/min_time:2.000");
        if (ours != perIteration_.end() && theirs != perIteration_.end()) {
            std::printf("open+walk %.1f ms, mdb-export %.1f ms: ratio %.2f (target <= 1.50)\n",
                        ours->second * 1e3, theirs->second * 1e3, ours->second / theirs->second);
        }
    }

private:
    std::map<std::string, double> perIteration_;
};

} // namespace

int main(int argc, char** argv) {
    char folder[] = "/tmp/zurodid-jet-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        return 1;
    }
    DiaryFile() = std::filesystem::path(folder) / "Zurodid.mdb";
    WriteBenchDiary(DiaryFile());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
