// A whole backup + flash + verify of the application region, timed three ways:
//  - BM_FullRunPseudoTerminal: the real engine (Flasher, FlashCalw, the applet driver, SambaClient,
//    POSIXSerialLink) over a pseudo-terminal served by a simulated calculator without delay;
//  - BM_BareReplayPseudoTerminal: a plain blocking client that sends the same command stream and
//    payloads (recorded from the engine's first run) and reads the same replies over the same
//    kind of link — the floor that the engine's own overhead is measured against;
//  - BM_FullRunInProcess: the engine against the simulated calculator in-process, as DEMO mode
//    runs it, with zero delay.
// The bare client keeps the pauses the protocol prescribes, because any client talking to a
// monitor must make them: it waits 50 ms after opening the line, as the serial link does, and
// waits out each recorded quiet discard (50 ms before the applet upload). At the end the
// engine/bare ratio is printed (of the medians and of the fastest repetitions); it should stay at
// or below 1.5. It is also printed with those pauses taken out of both sides, which is the
// engine's own overhead against the bytes alone.

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

// Filled in by the bare replay: the prescribed pauses of the recorded run, in milliseconds.
double prescribedPauseMs = 0;

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
struct ServedCalculator {
    testing::TempDir devices;
    std::shared_ptr<SimulatedCalculatorTransport> calculator =
        std::make_shared<SimulatedCalculatorTransport>(0.0, true);
    PseudoTerminalServer server{calculator};
    std::filesystem::path link = devices / "ttyACM0";

    ServedCalculator() {
        std::filesystem::create_symlink(server.slavePath(), link);
        server.start();
    }
    ~ServedCalculator() { server.stop(); }

    Flasher cableFlasher() const {
        Flasher flasher = Flasher::realCable(devices.path());
        flasher.flashCommandSettleSeconds = 0;
        return flasher;
    }
};

struct Firmware {
    testing::TempDir dir;
    FirmwareImage image{dir.write("image.bin", testing::patternImage(2024)),
                        testing::patternImage(2024)};
    std::filesystem::path backup = dir / "backup.bin";
};

// One engine run with every byte recorded.
std::vector<RecordedChunk> recordEngineRun(ServedCalculator& served, const Firmware& firmware) {
    Flasher flasher = served.cableFlasher();
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

void BM_FullRunPseudoTerminal(benchmark::State& state) {
    ServedCalculator served;
    Firmware firmware;
    const Flasher flasher = served.cableFlasher();
    for (auto _ : state) {
        backupFlashVerify(flasher, firmware.image, firmware.backup);
    }
}

void BM_BareReplayPseudoTerminal(benchmark::State& state) {
    ServedCalculator served;
    Firmware firmware;
    const std::vector<RecordedChunk> stream = recordEngineRun(served, firmware);
    std::size_t sent = 0, received = 0;
    for (const auto& chunk : stream) {
        (chunk.direction == RecordedChunk::Direction::sent ? sent : received) += chunk.bytes.size();
    }
    prescribedPauseMs = prescribedPauseSeconds(stream) * 1000;
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

BENCHMARK(BM_FullRunPseudoTerminal)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_BareReplayPseudoTerminal)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_FullRunInProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

void printRatio(const char* label, const std::map<std::string, double>& times) {
    const auto engine = times.find("BM_FullRunPseudoTerminal");
    const auto bare = times.find("BM_BareReplayPseudoTerminal");
    if (engine == times.end() || bare == times.end()) {
        return;
    }
    const double ratio = engine->second / bare->second;
    const double pauses = prescribedPauseMs;
    std::cout << label << ": engine " << engine->second << " ms, bare replay " << bare->second
              << " ms, ratio " << ratio << (ratio <= 1.5 ? " (within 1.5)" : " (ABOVE 1.5)")
              << "; without the " << pauses << " ms of prescribed pauses on both sides "
              << (engine->second - pauses) / (bare->second - pauses) << "\n";
}

} // namespace
} // namespace pelwick

int main(int argc, char** argv) {
    return pelwick::runAndSummarise(
        argc, argv,
        [](const benchmark::BenchmarkReporter::Run& run) { return run.run_name.function_name; },
        pelwick::printRatio);
}
