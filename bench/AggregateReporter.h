#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pelwick {

/// The fastest repetition, as an extra statistic: on a busy machine the scheduler adds its own
/// delays, so the fastest run is the best estimate of what the code itself costs.
inline double fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

/// Prints as usual and keeps each benchmark's median and fastest real time under a key taken
/// from its run name, so that ratios can be shown at the end. Without repetitions the one run
/// stands for both.
class AggregateReporter : public benchmark::ConsoleReporter {
public:
    using Key = std::function<std::string(const Run&)>;
    explicit AggregateReporter(Key key) : key_(std::move(key)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string key = key_(run);
            if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
                medians[key] = minimums[key] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[key] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min") {
                minimums[key] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> medians;
    std::map<std::string, double> minimums;

private:
    Key key_;
};

/// A benchmark program's main: runs what the command line selects, then hands the medians and the
/// fastest times, each with its label, to `summarise`.
inline int runAndSummarise(
    int argc, char** argv, AggregateReporter::Key key,
    const std::function<void(const char* label, const std::map<std::string, double>& times)>&
        summarise) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    AggregateReporter reporter(std::move(key));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summarise("median", reporter.medians);
    summarise("fastest", reporter.minimums);
    benchmark::Shutdown();
    return 0;
}

} // namespace pelwick
