#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/Clock.h"

#include <chrono>
#include <ostream>

namespace pelwick {

int runVerifyCommand(const GlobalOptions& global, const VerifyOptions& options, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce("Interrupted before the verify was done. The calculator was not changed.");
    // A missing or wrong-size file is refused before the port is touched.
    const FirmwareImage image = FirmwareImage::load(options.file, true);
    if (console.report) {
        console.report->set("file", options.file);
        console.report->set("checksum", VoyagerFirmwareChecksum::formattedOf(image.data));
    }
    DeviceSession session(global, console.deviceTrace());
    const ConnectedTarget& target = session.connectSupported();
    if (console.report) {
        reportTarget(*console.report, target);
    }
    const auto started = MonotonicClock::now();
    {
        ProgressDisplay display(console);
        session.flasher().verify(image, FlashLayout::applicationStart, target.client,
                                 display.progress());
    }
    session.close();
    if (console.report) {
        console.report->set("seconds",
                            std::chrono::duration<double>(MonotonicClock::now() - started).count());
        return 0;
    }
    console.out << "Verified: the calculator holds " << options.file << ".\n";
    return 0;
}

} // namespace pelwick
