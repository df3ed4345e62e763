#include "support/BenchRun.h"

#include "support/TempFolder.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string_view>
#include <unistd.h>

namespace zurodid::bench {
namespace {

// The console report, and the time of each benchmark kept for the ratios.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    RatioReporter(const std::vector<Ratio>& ratios, bool colour)
        : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular), ratios_(ratios) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations <= 0)
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            perIteration_[name] = run.real_accumulated_time / static_cast<double>(run.iterations);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Ratio& ratio : ratios_) {
            const auto measured = perIteration_.find(ratio.measured);
            const auto baseline = perIteration_.find(ratio.baseline);
            if (measured == perIteration_.end() || baseline == perIteration_.end() ||
                baseline->second <= 0)
                continue; // one of the two did not run (a filter, an error)
            std::printf("%s %.2f ms against %s %.2f ms: ratio %.2f", ratio.measured.c_str(),
                        measured->second * 1e3, ratio.baseline.c_str(), baseline->second * 1e3,
                        measured->second / baseline->second);
            if (ratio.target > 0)
                std::printf(" (target <= %.2f)", ratio.target);
            std::printf("\n");
        }
    }

private:
    const std::vector<Ratio>& ratios_;
    std::map<std::string, double> perIteration_;
};

} // namespace

const std::filesystem::path& RunFolder() {
    static const testing::TempFolder folder;
    return folder.Path();
}

int RunBenchmarks(int argc, char** argv, const BenchRun& run) {
    // The ratios go with the console report; a machine-readable one is left as it is asked.
    bool console = true;
    bool colour = ::isatty(STDOUT_FILENO) == 1;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.starts_with("--benchmark_format=") && argument != "--benchmark_format=console")
            console = false;
        if (argument.starts_with("--benchmark_color=")) {
            std::string_view value = argument.substr(argument.find('=') + 1);
            if (value != "auto")
                colour = value == "true" || value == "yes" || value == "1";
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (run.prepare)
        run.prepare();
    if (console) {
        RatioReporter reporter(run.ratios, colour);
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace zurodid::bench
