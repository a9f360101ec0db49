#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"

#include "util/Format.h"

#include <ostream>

namespace pelwick {

int runInfoCommand(const GlobalOptions& global, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce("Interrupted.");
    DeviceSession session(global);
    const ConnectedTarget& target = session.connect();
    const DeviceIdentity& identity = target.identity;
    std::ostream& out = console.out;
    out << "Port:      " << target.port.path << '\n';
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
    session.close();
    return 0;
}

} // namespace pelwick
