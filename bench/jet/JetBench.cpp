// Opening and walking a 32,767-row Appointment table, against mdb-export on the same file in
// the same run. Target: open and walk take at most 1.5 times what mdb-export takes. Also what
// a reading child spends on that table, with libmdb reading the file from memory and through
// its own file stream.
#include "store/Dao.h"
#include "store/jet/MdbTableDump.h"
#include "support/BenchRun.h"
#include "tools/make-diary/DiaryWriter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kAppointments = 32767;

std::filesystem::path DiaryFile() {
    return zurodid::bench::RunFolder() / "Zurodid.mdb";
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

// The parse alone, in this process: the rows go nowhere.
void DumpTable(benchmark::State& state) {
    const auto source = static_cast<zurodid::jet::PageSource>(state.range(0));
    const auto texts = static_cast<zurodid::jet::StoredTexts>(state.range(1));
    const std::string file = DiaryFile().string();
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        zurodid::jet::RowStreamWriter out([&bytes](const char*, std::size_t size) {
            bytes += size;
            return true;
        });
        zurodid::jet::DumpTableRows(file.c_str(), "Appointment", out, source, texts);
    }
    state.counters["stream_bytes"] = static_cast<double>(bytes);
}

// What the agent's decoding thread does with the stream of that table, its texts sent as
// stored or converted to UTF-8 by libmdb.
void DecodeTable(benchmark::State& state) {
    std::string stream;
    zurodid::jet::RowStreamWriter out([&stream](const char* data, std::size_t size) {
        stream.append(data, size);
        return true;
    });
    zurodid::jet::DumpTableRows(DiaryFile().c_str(), "Appointment", out,
                                zurodid::jet::PageSource::InMemory,
                                static_cast<zurodid::jet::StoredTexts>(state.range(0)));
    for (auto _ : state) {
        auto bytes = zurodid::jet::PageBuffer::CopyOf(stream);
        benchmark::DoNotOptimize(zurodid::jet::DecodeRowStream(std::move(bytes), "Appointment"));
    }
}

BENCHMARK(OpenAndWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
constexpr int kInMemory = static_cast<int>(zurodid::jet::PageSource::InMemory);
constexpr int kSentAsStored = static_cast<int>(zurodid::jet::StoredTexts::SentAsStored);
constexpr int kConverted = static_cast<int>(zurodid::jet::StoredTexts::Converted);
BENCHMARK(DumpTable)
    ->Args({kInMemory, kSentAsStored})
    ->Args({static_cast<int>(zurodid::jet::PageSource::FileStream), kSentAsStored})
    ->Args({kInMemory, kConverted})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK(DecodeTable)->Arg(kSentAsStored)->Arg(kConverted)->Unit(benchmark::kMillisecond);
BENCHMARK(MdbExport)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    return zurodid::bench::RunBenchmarks(argc, argv,
                                         {[] { WriteBenchDiary(DiaryFile()); },
                                          {{"OpenAndWalk", "MdbExport", 1.5},
                                           {"DumpTable/0/0", "DumpTable/1/0", 0},
                                           {"DumpTable/0/0", "DumpTable/0/1", 0},
                                           {"DecodeTable/0", "DecodeTable/1", 0}}});
}
