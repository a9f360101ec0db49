#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"

#include "util/Format.h"

#include <ostream>

namespace pelwick {

int runInfoCommand(const GlobalOptions& global, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce("Interrupted.");
    DeviceSession session(global, console.deviceTrace());
    // A copy: the connection is closed before the report.
    const ConnectedTarget target = session.connect();
    const DeviceIdentity& identity = target.identity;
    session.close();
    if (console.report) {
        JsonReport& report = *console.report;
        reportTarget(report, target);
        report.set("cidr", formatString("0x%08X", identity.cidr));
        report.set("exid", formatString("0x%08X", identity.exid));
        report.set("cpuid", formatString("0x%08X", identity.cpuid));
        report.set("flashBytes", identity.flashBytes);
        report.set("supported", identity.isSupported15C());
        return 0;
    }
    std::ostream& out = console.out;
    out << "Port:      " << target.port.path << '\n';
    if (target.port.usb) {
        out << "USB:       " << target.port.usb->description() << '\n';
    }
    out << "Monitor:   " << target.client->version() << '\n';
    out << "Chip:      " << identity.name << '\n';
    out << formatString("CIDR:      0x%08X\n", identity.cidr);
    out << formatString("EXID:      0x%08X\n", identity.exid);
    out << formatString("CPUID:     0x%08X\n", identity.cpuid);
    out << "Flash:     "
        << (identity.flashBytes > 0 ? formatString("%lld KiB", identity.flashBytes / 1024)
                                    : std::string("unknown"))
        << '\n';
    out << "Supported: "
        << (identity.isSupported15C()
                ? "yes"
                : "no (this tool is for the post-2015 Voyager calculators with an ATSAM4LC2C)")
        << '\n';
    return 0;
}

} // namespace pelwick
