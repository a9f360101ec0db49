// The production line's throughput: a batch of simulated calculators, each served on a
// pseudo-terminal without transfer delay, run through BatchRun exactly as
// "pelwick-cli --device-dir DIR --settle 0 batch FILE --parallel --count N" runs it (serial links,
// Flasher, one thread and connection per unit). One unit alone is timed against four at once,
// with and without a backup of each unit first. At the end the ratio four/one is printed (of the
// medians and of the fastest repetitions); it should stay at or below 1.5.

#include "BatchRun.h"
#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/TempDir.h"

#include "AggregateReporter.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <sstream>

namespace pelwick {
namespace {

// Simulated calculators served on pseudo-terminals, listed in a device folder as ttyACM0, 1, ….
struct ServedCalculators {
    testing::TempDir devices;
    std::vector<std::unique_ptr<PseudoTerminalServer>> servers;

    explicit ServedCalculators(int count) {
        for (int i = 0; i < count; ++i) {
            auto calculator = std::make_shared<SimulatedCalculatorTransport>(0.0, true);
            auto& server = servers.emplace_back(std::make_unique<PseudoTerminalServer>(calculator));
            std::filesystem::create_symlink(server->slavePath(),
                                            devices / ("ttyACM" + std::to_string(i)));
            server->start();
        }
    }
};

void BM_ParallelBatch(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    const bool backups = state.range(1) != 0;
    ServedCalculators served(units);
    testing::TempDir work;
    const auto firmware = work.write("image.bin", testing::patternImage(2024));
    GlobalOptions global;
    global.deviceDirectory = served.devices.path().string();
    global.settle = 0;
    std::ostringstream sink;
    int batches = 0;
    for (auto _ : state) {
        BatchRun::Settings settings;
        settings.firmware = firmware;
        settings.parallel = true;
        settings.unitLimit = units;
        if (backups) {
            settings.backupFolder = work.path();
            // A stamp of its own for every batch, so that no backup name is taken yet.
            settings.sessionStamp = "bench-" + std::to_string(++batches);
        }
        const BatchSummary summary = BatchRun(global, settings, sink, sink).run();
        if (summary.done() != units) {
            state.SkipWithError(("a unit failed: " + sink.str()).c_str());
            break;
        }
        sink.str({});
    }
}

BENCHMARK(BM_ParallelBatch)
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->ArgNames({"units", "backup"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

void printRatios(const char* label, const std::map<std::string, double>& times) {
    for (const char* backup : {"0", "1"}) {
        const auto one = times.find(std::string("units:1/backup:") + backup);
        const auto four = times.find(std::string("units:4/backup:") + backup);
        if (one == times.end() || four == times.end()) {
            continue;
        }
        const double ratio = four->second / one->second;
        std::cout << label << (backup[0] == '1' ? ", with backups" : ", without backups")
                  << ": one unit " << one->second << " ms, four in parallel " << four->second
                  << " ms, ratio " << ratio << (ratio <= 1.5 ? " (within 1.5)" : " (ABOVE 1.5)")
                  << "\n";
    }
}

} // namespace
} // namespace pelwick

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    pelwick::AggregateReporter reporter(
        [](const benchmark::BenchmarkReporter::Run& run) { return run.run_name.args; });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pelwick::printRatios("median", reporter.medians);
    pelwick::printRatios("fastest", reporter.minimums);
    benchmark::Shutdown();
    return 0;
}
