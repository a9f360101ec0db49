#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"
#include "NamedPort.h"

#include "util/Format.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>

namespace pelwick {

namespace {

// The sysfs tree the USB identities are read from. PELWICK_SYSFS_ROOT (internal, for tests)
// points at a fake tree instead of /sys.
std::filesystem::path sysfsRoot() {
    const char* root = std::getenv("PELWICK_SYSFS_ROOT");
    return root != nullptr && *root != '\0' ? std::filesystem::path(root) : "/sys";
}

} // namespace

int runPortsCommand(const GlobalOptions& global, Console& console) {
    DeviceSession session(global);
    std::vector<SerialPort> listed = session.flasher().ports->listPorts();
    if (!global.demo) {
        // A port named with --port has no identity yet, and the listing always reads /sys.
        const std::filesystem::path root = sysfsRoot();
        for (SerialPort& port : listed) {
            port.usb = readUsbIdentity(root, port.name());
        }
    }
    if (listed.empty() && !console.report) {
        console.out << "No serial ports found"
                    << (global.demo || global.port ? "" : " in " + global.deviceDirectory) << ".\n";
        return 0;
    }
    // What a connection would open: a named port when it is a terminal, otherwise the candidates
    // (only the monitor's ports while one is listed by its USB id).
    std::vector<SerialPort> tried = connectionCandidates(listed);
    if (global.port && !global.demo) {
        tried = couldBeACable(*global.port) ? listed : std::vector<SerialPort>{};
    }
    const auto isTried = [&](const SerialPort& port) {
        return std::find(tried.begin(), tried.end(), port) != tried.end();
    };
    // Cables in the order a connection tries them, then everything else in path order.
    std::vector<SerialPort> ordered = preferredOrder(programmingCables(listed));
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(ordered),
                 [](const SerialPort& port) { return !port.isLikelyProgrammingCable(); });

    if (console.report) {
        JsonReport::Json ports = JsonReport::Json::array();
        for (const SerialPort& port : ordered) {
            ports.push_back({{"path", port.path},
                             {"cable", port.isLikelyProgrammingCable()},
                             {"rank", port.rank()},
                             {"tried", isTried(port)},
                             {"usb", usbFacts(port.usb)}});
        }
        console.report->set("ports", std::move(ports));
        return 0;
    }

    std::size_t pathWidth = 4;
    for (const SerialPort& port : ordered) {
        pathWidth = std::max(pathWidth, port.path.size());
    }
    const int width = static_cast<int>(pathWidth);
    console.out << formatString("%-*s  %-5s  %-4s  %s\n", width, "PORT", "CABLE", "RANK", "TRIED");
    for (const SerialPort& port : ordered) {
        console.out << formatString("%-*s  %-5s  %-4d  %s\n", width, port.path.c_str(),
                                    port.isLikelyProgrammingCable() ? "yes" : "no", port.rank(),
                                    isTried(port) ? "yes" : "no");
        // The USB device behind the port, on a line of its own below it.
        if (port.usb) {
            console.out << "    USB " << port.usb->description()
                        << (port.isConfirmedSambaPort() && isTried(port)
                                ? " — SAM-BA monitor, tried first"
                                : "")
                        << "\n";
        }
    }
    return 0;
}

} // namespace pelwick
