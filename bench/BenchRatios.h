// Benchmarks that set our operation beside its reference, "<Op>/ours" and
// "<Op>/reference", and end with a table of ours / reference CPU time per
// operation, so that the ratio reads off one run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace benchratios {

struct Pair {
    const char* name;
    void (*ours)(benchmark::State&);
    void (*reference)(benchmark::State&);
};

// Records each run's CPU time. With repetitions, the median of each benchmark
// stands for it (the machine may be shared while it runs).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        const std::string median = "_median";
        for (const Run& run : runs) {
            std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Aggregate) {
                if (name.size() <= median.size() ||
                    name.compare(name.size() - median.size(), median.size(), median) != 0)
                    continue;
                name.resize(name.size() - median.size());
                times[name] = run.GetAdjustedCPUTime();
            } else if (!times.count(name)) {
                times[name] = run.GetAdjustedCPUTime();
            }
        }
    }
};

// Registers the pairs, runs them with `defaultFlags` before the command line's
// own flags (which override them), and prints the table. The exit status.
inline int RunPairs(int argc, char** argv, const std::vector<Pair>& pairs,
                    std::vector<std::string> defaultFlags = {}) {
    for (const Pair& p : pairs) {
        benchmark::RegisterBenchmark((std::string(p.name) + "/ours").c_str(), p.ours);
        benchmark::RegisterBenchmark((std::string(p.name) + "/reference").c_str(), p.reference);
    }
    std::vector<char*> args = {argv[0]};
    for (std::string& flag : defaultFlags)
        args.push_back(flag.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n%-16s %12s %12s %8s\n", "operation", "ours cpu ns", "ref cpu ns", "ratio");
    for (const Pair& p : pairs) {
        auto ours = reporter.times.find(std::string(p.name) + "/ours");
        auto ref = reporter.times.find(std::string(p.name) + "/reference");
        if (ours == reporter.times.end() || ref == reporter.times.end() || ref->second <= 0)
            continue;
        std::printf("%-16s %12.1f %12.1f %7.2fx\n", p.name, ours->second, ref->second,
                    ours->second / ref->second);
    }
    return 0;
}

} // namespace benchratios
