// Word reads over a pseudo-terminal served by the simulated calculator: through SambaClient on the
// serial link, and by a bare blocking write-then-read loop. The link waits in poll(); it must not
// add a fixed latency, so its time per exchange has to stay within 1.5 times the bare loop's.
//
// Each benchmark does 2,000 exchanges per repetition; by default five repetitions of each run in
// random order, so that load from other programs falls on both alike, and the ratio is judged on
// the best repetition of each (the one least disturbed). Exit status 1 when it is above 1.5.
//
//   build/bin/SambaExchangeBench [--benchmark_repetitions=N ...]

#include "device/POSIXSerialLink.h"
#include "samba/SambaClient.h"
#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace pelwick;

constexpr int kExchanges = 2000;
constexpr std::uint32_t kCIDR = 0xAB0A07E0;
const char* const kSambaName = "SambaClient_POSIXSerialLink";
const char* const kBareName = "BareBlockingLoop";

void throughSambaClient(benchmark::State& state, const PseudoTerminalServer* server) {
    // Opening (with its 50 ms settle) and connecting stay outside the timed loop.
    SambaClient client(std::make_unique<POSIXSerialLink>(server->slavePath(), 115200));
    client.connect(3.0);
    for (auto _ : state) {
        if (client.readWord(0x400E0740, 3.0) != kCIDR) {
            state.SkipWithError("wrong CIDR");
            break;
        }
    }
    client.close();
}

// Moves every byte with blocking read() or write() calls, as a minimal client would.
template <typename Byte, typename SystemCall>
bool transferAll(SystemCall call, int fd, Byte* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = call(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool bareExchange(int fd) {
    static const char command[] = "w400E0740,4#";
    std::uint8_t reply[4];
    if (!transferAll(::write, fd, command, sizeof command - 1) ||
        !transferAll(::read, fd, reply, sizeof reply)) {
        return false;
    }
    return (reply[0] | reply[1] << 8 | reply[2] << 16 |
            static_cast<std::uint32_t>(reply[3]) << 24) == kCIDR;
}

void bareBlockingLoop(benchmark::State& state, const PseudoTerminalServer* server) {
    const int fd = ::open(server->slavePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        state.SkipWithError(std::strerror(errno));
        return;
    }
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &settings);
    ::tcflush(fd, TCIOFLUSH);
    // The first exchange also waits for the server to notice the new client.
    if (!bareExchange(fd)) {
        state.SkipWithError("no answer");
    }
    for (auto _ : state) {
        if (!bareExchange(fd)) {
            state.SkipWithError("no answer");
            break;
        }
    }
    ::close(fd);
}

// The console report, plus the seconds per exchange of every repetition, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                perExchange_[run.run_name.function_name].push_back(
                    run.real_accumulated_time / static_cast<double>(run.iterations));
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double best(const std::string& name) const {
        const auto found = perExchange_.find(name);
        return found == perExchange_.end()
                   ? 0
                   : *std::min_element(found->second.begin(), found->second.end());
    }
    double mean(const std::string& name) const {
        const auto found = perExchange_.find(name);
        return found == perExchange_.end()
                   ? 0
                   : std::accumulate(found->second.begin(), found->second.end(), 0.0) /
                         static_cast<double>(found->second.size());
    }

private:
    std::map<std::string, std::vector<double>> perExchange_;
};

} // namespace

int main(int argc, char** argv) {
    auto calculator = std::make_shared<SimulatedCalculatorTransport>(0, true);
    PseudoTerminalServer server(calculator);
    server.start([](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });

    for (const auto& [name, function] :
         {std::pair{kSambaName, &throughSambaClient}, std::pair{kBareName, &bareBlockingLoop}}) {
        benchmark::RegisterBenchmark(name, function, &server)
            ->Iterations(kExchanges)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
    // Defaults first, so that the same flags given on the command line win.
    std::vector<char*> arguments{argv[0]};
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    arguments.push_back(repetitions.data());
    arguments.push_back(interleaving.data());
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return 2;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double samba = reporter.best(kSambaName);
    const double bare = reporter.best(kBareName);
    if (samba <= 0 || bare <= 0) {
        return 0; // filtered out or failed: nothing to compare
    }
    std::printf("best:  SambaClient %.1f us/exchange, bare loop %.1f us/exchange, ratio %.2f "
                "(limit 1.50)\n",
                samba * 1e6, bare * 1e6, samba / bare);
    std::printf("mean:  SambaClient %.1f us/exchange, bare loop %.1f us/exchange, ratio %.2f\n",
                reporter.mean(kSambaName) * 1e6, reporter.mean(kBareName) * 1e6,
                reporter.mean(kSambaName) / reporter.mean(kBareName));
    return samba / bare <= 1.5 ? 0 : 1;
}
