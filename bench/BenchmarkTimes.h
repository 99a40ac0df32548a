#pragma once
// The benchmarks of a program run with the usual console output, keeping each
// one's time per iteration so that main can print how they compare.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
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
                    cpuTimes[name] = run.GetAdjustedCPUTime();
                    medians_.insert(name);
                } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "cv") {
                    // A fraction of the mean, not a time.
                    wallCv[name] = run.real_accumulated_time;
                    cpuCv[name] = run.cpu_accumulated_time;
                } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
                    times[name] = run.GetAdjustedRealTime();
                    cpuTimes[name] = run.GetAdjustedCPUTime();
                }
                if (run.run_name.args.empty()) break;
            }
        }
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes;
    std::map<std::string, double> wallCv, cpuCv;  // with repetitions

private:
    std::set<std::string> medians_;
};

// Wall and CPU times by name, as the reporter keeps them, and with
// repetitions the coefficient of variation of each (a fraction).
struct PairedTimes {
    std::map<std::string, double> wall, cpu;
    std::map<std::string, double> wallCv, cpuCv;
    bool Has(const std::string& name) const { return wall.count(name) && cpu.count(name); }
};

namespace detail {
inline std::optional<PairedTimes> Run(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return std::nullopt;
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return PairedTimes{reporter.times, reporter.cpuTimes, reporter.wallCv, reporter.cpuCv};
}
}  // namespace detail

// Each benchmark's time per iteration (in its own unit) by function name
// (and by function name and arguments, "BM_X/1000"),
// the failed ones left out; nullopt when the arguments are not understood.
inline std::optional<std::map<std::string, double>> RunBenchmarks(int argc, char** argv) {
    auto times = detail::Run(argc, argv);
    if (!times) return std::nullopt;
    return times->wall;
}

// Runs the benchmarks as a comparison wants them unless the command line says
// otherwise: 5 repetitions of each, interleaved at random so that both sides
// of a ratio share the machine's moods, and the medians reported.
inline std::optional<PairedTimes> RunInterleaved(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    auto given = [&](const char* flag) {
        for (int i = 1; i < argc; ++i)
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
        return false;
    };
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (!given("--benchmark_repetitions")) args.push_back(repetitions);
    if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleaving);
    if (!given("--benchmark_report_aggregates_only")) args.push_back(aggregates);
    const int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    return detail::Run(count, args.data());
}

// "label: wall a / b = r, CPU a / b = r (target)"; nothing when a side failed.
inline void PrintRatio(const PairedTimes& t, const std::string& ours, const std::string& anchor,
                       const char* label, const char* target) {
    if (!t.Has(ours) || !t.Has(anchor) || t.wall.at(anchor) <= 0 || t.cpu.at(anchor) <= 0) return;
    std::printf("%s: wall %.4g / %.4g = %.2f, CPU %.4g / %.4g = %.2f (%s)\n", label, t.wall.at(ours),
                t.wall.at(anchor), t.wall.at(ours) / t.wall.at(anchor), t.cpu.at(ours), t.cpu.at(anchor),
                t.cpu.at(ours) / t.cpu.at(anchor), target);
}

// How a benchmark's median grows from one size to the next (CPU and wall).
inline void PrintGrowth(const PairedTimes& t, const std::string& small, const std::string& large,
                        const char* label) {
    if (!t.Has(small) || !t.Has(large) || t.wall.at(small) <= 0 || t.cpu.at(small) <= 0) return;
    std::printf("%s: x%.2f wall, x%.2f CPU\n", label, t.wall.at(large) / t.wall.at(small),
                t.cpu.at(large) / t.cpu.at(small));
}

// Both sides at two sizes ("BM_X/<n>"): the ratio at each size, then how each
// side grows from the first size to the second.
inline void PrintSizedComparison(const PairedTimes& t, const std::string& ours, const std::string& anchor, int small,
                                 int large, const std::string& comparison, const std::string& oursName,
                                 const std::string& anchorName, const std::string& items, const char* target) {
    std::printf("\n");
    const std::string from = "/" + std::to_string(small), to = "/" + std::to_string(large);
    for (const std::string* size : {&from, &to}) {
        const std::string label = comparison + ", " + size->substr(1) + " " + items;
        PrintRatio(t, ours + *size, anchor + *size, label.c_str(), target);
    }
    const std::string growth = ", " + std::to_string(small) + " to " + std::to_string(large) + " " + items;
    PrintGrowth(t, ours + from, ours + to, (oursName + growth).c_str());
    PrintGrowth(t, anchor + from, anchor + to, (anchorName + growth).c_str());
}

}  // namespace benchtimes
