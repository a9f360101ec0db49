#include "Commands.h"
#include "DeviceSession.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/FileIO.h"

#include <chrono>
#include <ostream>

namespace pelwick {

int runBackupCommand(const GlobalOptions& global, const BackupOptions& options, Console& console) {
    DeviceSession session(global);
    const ConnectedTarget& target = session.connectSupported();
    Bytes firmware;
    std::filesystem::path file;
    {
        ProgressDisplay display(console.err, console.errorIsTerminal);
        if (options.output) {
            file = *options.output;
            firmware = session.flasher().read(file, target.client, display.progress());
        } else {
            firmware = session.flasher().readApplication(target.client, display.progress());
        }
    }
    session.close();
    const BackupChecksumAssessment verdict = VoyagerFirmwareChecksum::backupAssessment(firmware);
    if (!options.output) {
        file = verdict.defaultBackupFileName(std::chrono::system_clock::now());
        writeFileAtomically(file, firmware);
    }
    console.out << "Saved " << firmware.size() << " bytes to " << file.string() << ".\n";
    console.out << verdict.message() << '\n';
    return 0;
}

} // namespace pelwick
