#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "ProgressDisplay.h"

#include <ostream>

namespace pelwick {

int runVerifyCommand(const GlobalOptions& global, const VerifyOptions& options, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce("Interrupted before the verify was done. The calculator was not changed.");
    // A missing or wrong-size file is refused before the port is touched.
    const FirmwareImage image = FirmwareImage::load(options.file, true);
    DeviceSession session(global);
    const ConnectedTarget& target = session.connectSupported();
    {
        ProgressDisplay display(console.err, console.errorIsTerminal);
        session.flasher().verify(image, FlashLayout::applicationStart, target.client,
                                 display.progress());
    }
    session.close();
    console.out << "Verified: the calculator holds " << options.file << ".\n";
    return 0;
}

} // namespace pelwick
