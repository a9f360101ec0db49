#include "Commands.h"
#include "InterruptWatcher.h"
#include "TerminalLink.h"

#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <optional>
#include <ostream>

namespace pelwick {

int runSimulateCommand(const SimulateOptions& options, Console& console) {
    auto calculator =
        std::make_shared<SimulatedCalculatorTransport>(options.delay, !options.noPreload);
    PseudoTerminalServer server(calculator);
    // An interrupt ends the service through stop(), so that the link is removed on the way out.
    // It is made before any thread starts, so that every thread inherits its signal mask.
    const InterruptWatcher watcher([&server] { server.stop(); });
    std::optional<TerminalLink> link;
    if (options.link) {
        link.emplace(*options.link, server.slavePath());
    }
    console.out << server.slavePath() << '\n' << std::flush;
    if (link && !console.quiet) {
        console.err << "Linked " << link->path().string() << " to the simulated calculator. "
                    << "Press Ctrl-C to stop.\n"
                    << std::flush;
    }

    server.serve([&console](const std::string& message) {
        console.err << "Simulator rejected a command: " << message << '\n' << std::flush;
    });
    return 0;
}

} // namespace pelwick
