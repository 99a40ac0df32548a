#pragma once
// The benchmarks of a program run with the usual console output, keeping each
// one's time per iteration so that main can print how they compare.
#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace benchtimes {

class TimesReporter : public benchmark::ConsoleReporter {
public:
    // With repetitions the median stands for the benchmark, also when only
    // the aggregates are reported.
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            // Benchmarks with arguments also go by "BM_X/1000".
            for (const std::string& name : {run.run_name.function_name,
                                            run.run_name.function_name + "/" + run.run_name.args}) {
                if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                    times[name] = run.GetAdjustedRealTime();
                    medians_.insert(name);
                } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
                    times[name] = run.GetAdjustedRealTime();
                }
                if (run.run_name.args.empty()) break;
            }
        }
    }
    std::map<std::string, double> times;

private:
    std::set<std::string> medians_;
};

// Each benchmark's time per iteration (in its own unit) by function name
// (and by function name and arguments, "BM_X/1000"),
// the failed ones left out; nullopt when the arguments are not understood.
inline std::optional<std::map<std::string, double>> RunBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return std::nullopt;
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.times;
}

}  // namespace benchtimes
