// A whole backup + flash + verify of the application region over a pseudo-terminal, against a
// simulated calculator whose applet takes 0 or 3 ms to program a page (the argument, in
// microseconds), timed four ways:
//  - BM_StandardPace: the real engine (Flasher, FlashCalw, the applet driver, SambaClient,
//    POSIXSerialLink) at a cable's standard pace: 0.1 s after each start of the applet, 20 ms
//    after each block sent, polls a second apart;
//  - BM_Fast: the engine in fast mode, the calculator keeping up;
//  - BM_FastOneFallback: fast mode against a calculator whose applet takes 1.5 s for page 112, so
//    that the poll after it times out and the rest of the write goes at the standard pace;
//  - BM_BareReplay: a plain blocking client that sends the command stream and payloads of the
//    fast engine (recorded from a first run) and reads the same replies over the same kind of
//    link — the floor that the engine's own overhead is measured against;
// and BM_FullRunInProcess: the engine against the simulated calculator in-process, as DEMO mode
// runs it, without delays or pauses.
// The bare client keeps the pauses every client must make: it waits 50 ms after opening the line,
// as the serial link does, and waits out each recorded quiet discard (50 ms before the applet
// upload). At the end the fast/bare ratio is printed for each page time (of the medians and of the
// fastest repetitions; it should stay at or below 1.5), also with those pauses taken out of both
// sides, and how much longer the standard pace and one fallback take than fast mode.

#include "flasher/Flasher.h"
#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/RecordingTransport.h"
#include "support/TempDir.h"

#include "AggregateReporter.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace pelwick {
namespace {

// Filled in by the bare replay: the prescribed pauses of the recorded run, in milliseconds, by the
// page time's argument.
std::map<std::string, double> prescribedPauseMs;

// The applet run of page 112: after INIT and the 14 unlocks.
constexpr int kSlowAppletRun = 1 + 14 + 112;
constexpr double kSlowAppletSeconds = 1.5;

using testing::RecordedChunk;
using testing::RecordingTransport;

// Connect, back up to a file, then flash with verify over the same connection, as the session
// controller does it.
void backupFlashVerify(const Flasher& flasher, const FirmwareImage& firmware,
                       const std::filesystem::path& backup) {
    const ConnectedTarget target = flasher.connect(3.0);
    try {
        flasher.read(backup, target.client);
        flasher.write(firmware, 0x4000, target.client, true);
    } catch (...) {
        target.client->close();
        throw;
    }
    target.client->close();
}

// A simulated calculator served on a pseudo-terminal, listed in a folder of its own as ttyACM0.
// Its applet takes `pageSeconds` per page, and its `slowRun`-th run (if any) 1.5 s longer.
struct ServedCalculator {
    testing::TempDir devices;
    std::shared_ptr<SimulatedCalculatorTransport> calculator =
        std::make_shared<SimulatedCalculatorTransport>(0.0, true);
    PseudoTerminalServer server{calculator};
    std::filesystem::path link = devices / "ttyACM0";

    explicit ServedCalculator(double pageSeconds, int slowRun = 0) {
        calculator->setAppletPageDelay(pageSeconds);
        if (slowRun > 0) {
            calculator->delayAppletRun(slowRun, kSlowAppletSeconds);
        }
        std::filesystem::create_symlink(server.slavePath(), link);
        server.start();
    }
    ~ServedCalculator() { server.stop(); }

    Flasher cableFlasher(bool fast) const {
        Flasher flasher = Flasher::realCable(devices.path());
        flasher.fastTransfer = fast;
        return flasher;
    }
};

struct Firmware {
    testing::TempDir dir;
    FirmwareImage image{dir.write("image.bin", testing::patternImage(2024)),
                        testing::patternImage(2024)};
    std::filesystem::path backup = dir / "backup.bin";
};

double pageSecondsOf(const benchmark::State& state) {
    return static_cast<double>(state.range(0)) / 1e6;
}

// One engine run with every byte recorded.
std::vector<RecordedChunk> recordEngineRun(ServedCalculator& served, const Firmware& firmware) {
    Flasher flasher = served.cableFlasher(true);
    auto recorders = std::make_shared<std::vector<RecordingTransport*>>();
    auto open = flasher.openTransport;
    flasher.openTransport = [open, recorders](const SerialPort& port) {
        auto recorder = std::make_unique<RecordingTransport>(open(port));
        recorders->push_back(recorder.get());
        return std::unique_ptr<ByteTransport>(std::move(recorder));
    };
    // The recorders live as long as the client that owns them: copy the stream before closing.
    const ConnectedTarget target = flasher.connect(3.0);
    flasher.read(firmware.backup, target.client);
    flasher.write(firmware.image, 0x4000, target.client, true);
    const std::vector<RecordedChunk> stream = recorders->back()->stream();
    target.client->close();
    return stream;
}

// The prescribed pauses in a recorded stream: the wait after opening and every quiet discard.
double prescribedPauseSeconds(const std::vector<RecordedChunk>& stream) {
    double seconds = 0.05;
    for (const RecordedChunk& chunk : stream) {
        seconds += chunk.quietSeconds;
    }
    return seconds;
}

// Waits until `fd` has input or `seconds` have passed; whatever arrives is dropped.
void waitQuiet(int fd, double seconds, Bytes& buffer) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(seconds * 1000)) > 0) {
        (void)!::read(fd, buffer.data(), buffer.size());
    }
}

// The least a client can do with that stream: open the terminal raw, let the line settle, write
// each command and payload, block until each reply has arrived in full, and wait out the quiet
// discards.
void bareReplay(const std::string& path, const std::vector<RecordedChunk>& stream) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "open " + path);
    }
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &settings);
    ::tcflush(fd, TCIOFLUSH);
    Bytes buffer(4096);
    waitQuiet(fd, 0.05, buffer);
    for (const RecordedChunk& chunk : stream) {
        if (chunk.direction == RecordedChunk::Direction::quiet) {
            waitQuiet(fd, chunk.quietSeconds, buffer);
            continue;
        }
        std::size_t done = 0;
        while (done < chunk.bytes.size()) {
            const ssize_t n =
                chunk.direction == RecordedChunk::Direction::sent
                    ? ::write(fd, chunk.bytes.data() + done, chunk.bytes.size() - done)
                    : ::read(fd, buffer.data(), std::min(buffer.size(), chunk.bytes.size() - done));
            if (n <= 0 && errno != EINTR) {
                ::close(fd);
                throw std::system_error(errno, std::generic_category(), "bare replay");
            }
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    ::close(fd);
}

// The engine at a pace, on a fresh calculator each time (a slow run counts from its start).
void engineRuns(benchmark::State& state, bool fast, int slowRun) {
    Firmware firmware;
    for (auto _ : state) {
        state.PauseTiming();
        auto served = std::make_unique<ServedCalculator>(pageSecondsOf(state), slowRun);
        const Flasher flasher = served->cableFlasher(fast);
        state.ResumeTiming();
        backupFlashVerify(flasher, firmware.image, firmware.backup);
        state.PauseTiming();
        served.reset();
        state.ResumeTiming();
    }
}

void BM_StandardPace(benchmark::State& state) {
    engineRuns(state, false, 0);
}

void BM_Fast(benchmark::State& state) {
    engineRuns(state, true, 0);
}

void BM_FastOneFallback(benchmark::State& state) {
    engineRuns(state, true, kSlowAppletRun);
}

void BM_BareReplay(benchmark::State& state) {
    ServedCalculator served(pageSecondsOf(state));
    Firmware firmware;
    const std::vector<RecordedChunk> stream = recordEngineRun(served, firmware);
    std::size_t sent = 0, received = 0;
    for (const auto& chunk : stream) {
        (chunk.direction == RecordedChunk::Direction::sent ? sent : received) += chunk.bytes.size();
    }
    prescribedPauseMs[std::to_string(state.range(0))] = prescribedPauseSeconds(stream) * 1000;
    for (auto _ : state) {
        bareReplay(served.link.string(), stream);
    }
    state.counters["chunks"] = static_cast<double>(stream.size());
    state.counters["sentBytes"] = static_cast<double>(sent);
    state.counters["receivedBytes"] = static_cast<double>(received);
}

void BM_FullRunInProcess(benchmark::State& state) {
    Firmware firmware;
    auto calculator = std::make_shared<SimulatedCalculatorTransport>(0.0, true);
    const Flasher flasher = Flasher::simulated(calculator);
    for (auto _ : state) {
        backupFlashVerify(flasher, firmware.image, firmware.backup);
    }
}

// The page times: none, and the 3 ms a real page takes to erase and write.
// Every run over a pseudo-terminal: for both page times, in real milliseconds, with the fastest.
void flashRun(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(0)
        ->Arg(3000)
        ->ArgName("page_us")
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_StandardPace)->Apply(flashRun);
BENCHMARK(BM_Fast)->Apply(flashRun);
BENCHMARK(BM_FastOneFallback)->Apply(flashRun);
BENCHMARK(BM_BareReplay)->Apply(flashRun);
BENCHMARK(BM_FullRunInProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

void printSummary(const char* label, const std::map<std::string, double>& times) {
    for (const std::string page : {"0", "3000"}) {
        const auto time = [&](const std::string& name) -> std::optional<double> {
            const auto found = times.find(name + "/page_us:" + page);
            return found == times.end() ? std::nullopt : std::optional(found->second);
        };
        const auto fast = time("BM_Fast");
        const auto bare = time("BM_BareReplay");
        std::cout << label << ", " << page << " us per page:";
        if (fast && bare) {
            const double ratio = *fast / *bare;
            const double pauses = prescribedPauseMs[page];
            std::cout << " fast " << *fast << " ms, bare replay " << *bare << " ms, ratio " << ratio
                      << (ratio <= 1.5 ? " (within 1.5)" : " (ABOVE 1.5)") << ", without the "
                      << pauses << " ms of prescribed pauses on both sides "
                      << (*fast - pauses) / (*bare - pauses) << ";";
        }
        for (const char* name : {"BM_StandardPace", "BM_FastOneFallback"}) {
            if (const auto other = time(name); other && fast) {
                std::cout << " " << name + 3 << " " << *other << " ms (" << *other / *fast
                          << " x fast);";
            }
        }
        std::cout << "\n";
    }
}

} // namespace
} // namespace pelwick

int main(int argc, char** argv) {
    return pelwick::runAndSummarise(
        argc, argv,
        [](const benchmark::BenchmarkReporter::Run& run) {
            const std::string args = run.run_name.args;
            return run.run_name.function_name + (args.empty() ? "" : "/" + args);
        },
        pelwick::printSummary);
}
