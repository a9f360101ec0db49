#include "Commands.h"
#include "TerminalLink.h"

#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <optional>
#include <ostream>
#include <pthread.h>
#include <thread>

namespace pelwick {

int runSimulateCommand(const SimulateOptions& options, Console& console) {
    // SIGINT and SIGTERM are blocked in every thread and taken by a watcher with sigtimedwait, so
    // the service ends through stop() and the link is removed on the way out. The mask is set
    // before any thread starts, so that every thread inherits it.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    auto calculator =
        std::make_shared<SimulatedCalculatorTransport>(options.delay, !options.noPreload);
    PseudoTerminalServer server(calculator);
    std::optional<TerminalLink> link;
    if (options.link) {
        link.emplace(*options.link, server.slavePath());
    }
    console.out << server.slavePath() << '\n' << std::flush;
    if (link) {
        console.err << "Linked " << link->path().string() << " to the simulated calculator. "
                    << "Press Ctrl-C to stop.\n"
                    << std::flush;
    }

    std::atomic<bool> serving{true};
    std::thread watcher([&] {
        const timespec tick{0, 100'000'000};
        while (serving) {
            if (sigtimedwait(&endSignals, nullptr, &tick) > 0) {
                server.stop();
                return;
            }
        }
    });
    struct Joiner {
        std::atomic<bool>& serving;
        std::thread& watcher;
        ~Joiner() {
            serving = false;
            watcher.join();
        }
    } joiner{serving, watcher};

    server.serve([&console](const std::string& message) {
        console.err << "Simulator rejected a command: " << message << '\n' << std::flush;
    });
    return 0;
}

} // namespace pelwick
