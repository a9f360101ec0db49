#include "Commands.h"
#include "DeviceSession.h"

#include "util/Format.h"

#include <algorithm>
#include <ostream>

namespace pelwick {

int runPortsCommand(const GlobalOptions& global, Console& console) {
    DeviceSession session(global);
    const std::vector<SerialPort> listed = session.flasher().ports->listPorts();
    if (listed.empty()) {
        console.out << "No serial ports found"
                    << (global.demo || global.port ? "" : " in " + global.deviceDirectory) << ".\n";
        return 0;
    }
    // Cables in the order a connection tries them, then everything else in path order.
    std::vector<SerialPort> ordered = preferredOrder(programmingCables(listed));
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(ordered),
                 [](const SerialPort& port) { return !port.isLikelyProgrammingCable(); });

    std::size_t pathWidth = 4;
    for (const SerialPort& port : ordered) {
        pathWidth = std::max(pathWidth, port.path.size());
    }
    const int width = static_cast<int>(pathWidth);
    console.out << formatString("%-*s  %-5s  %-4s  %s\n", width, "PORT", "CABLE", "RANK", "TRIED");
    for (const SerialPort& port : ordered) {
        console.out << formatString("%-*s  %-5s  %-4d  %s\n", width, port.path.c_str(),
                                    port.isLikelyProgrammingCable() ? "yes" : "no", port.rank(),
                                    port.isModemPort() ? "yes" : "no");
    }
    return 0;
}

} // namespace pelwick
