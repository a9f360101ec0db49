// The production line's throughput: a batch of simulated calculators, each served on a
// pseudo-terminal, run through BatchRun exactly as
// "pelwick-cli --device-dir DIR --settle 0 batch FILE --parallel --count N" runs it (serial links,
// Flasher, one thread and connection per unit). One unit alone is timed against two and four at
// once, with and without a backup of each unit first, and for two kinds of calculator:
//   block_us:10000  the DEMO calculator's timing, 10 ms of transfer per started 512-byte block, as
//                   a calculator on a cable takes its time; this is the production line's figure
//   block_us:0      calculators that answer at once: what remains is the host's own work, and
//                   here every calculator is simulated on the same cores as the flasher
// At the end the ratios several/one are printed (of the medians and of the fastest repetitions);
// four at once should stay at or below 1.5.

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

    ServedCalculators(int count, double blockDelay) {
        for (int i = 0; i < count; ++i) {
            auto calculator = std::make_shared<SimulatedCalculatorTransport>(blockDelay, true);
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
    ServedCalculators served(units, static_cast<double>(state.range(2)) / 1e6);
    testing::TempDir work;
    const FirmwareImage firmware =
        FirmwareImage::load(work.write("image.bin", testing::patternImage(2024)), true);
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
    ->ArgNames({"units", "backup", "block_us"})
    ->ArgsProduct({{1, 2, 4}, {0, 1}, {0}})
    ->ArgsProduct({{1, 4}, {0, 1}, {10000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

// Keys look like "units:4/backup:1/block_us:0"; each batch of several units is set against the
// one-unit batch of the same kind.
void printRatios(const char* label, const std::map<std::string, double>& times) {
    const std::string oneUnit = "units:1/";
    for (const auto& [key, one] : times) {
        if (!key.starts_with(oneUnit)) {
            continue;
        }
        const std::string kind = key.substr(oneUnit.size());
        for (const int units : {2, 4}) {
            const auto several = times.find("units:" + std::to_string(units) + "/" + kind);
            if (several == times.end()) {
                continue;
            }
            const double ratio = several->second / one;
            std::cout << label << ", " << kind << ": one unit " << one << " ms, " << units
                      << " in parallel " << several->second << " ms, ratio " << ratio;
            if (units == 4) {
                std::cout << (ratio <= 1.5 ? " (within 1.5)" : " (ABOVE 1.5)");
            }
            std::cout << "\n";
        }
    }
}

} // namespace
} // namespace pelwick

int main(int argc, char** argv) {
    return pelwick::runAndSummarise(
        argc, argv, [](const benchmark::BenchmarkReporter::Run& run) { return run.run_name.args; },
        pelwick::printRatios);
}
