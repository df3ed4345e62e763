#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zurodid::bench {

// A ratio printed once the runs are done: the time of `measured` over the time of `baseline`,
// each named as Google Benchmark names it without its options ("BM_FormLoad",
// "BM_OpenAndWalk/1").
struct Ratio {
    std::string measured;
    std::string baseline;
    double target = 0; // the most the ratio may be; 0 when there is none
};

struct BenchRun {
    // Runs after the options are read and before the first benchmark: writes the data.
    std::function<void()> prepare;
    std::vector<Ratio> ratios;
};

// A folder of this run's own for the benchmarks' files, removed when the program ends.
const std::filesystem::path& RunFolder();

// The whole of a benchmark program's main: reads the options, prepares, runs the registered
// benchmarks on the console and prints the ratios. Returns main's exit code.
int RunBenchmarks(int argc, char** argv, const BenchRun& run = {});

} // namespace zurodid::bench
