#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/FileIO.h"

#include <chrono>
#include <ostream>
#include <stdexcept>

namespace pelwick {

namespace {

// A file the user named is replaced only when they said so.
template <typename Save> void saveNamed(Save&& save) {
    try {
        save();
    } catch (const FileAccessError& error) {
        if (error.code() == std::errc::file_exists) {
            throw std::runtime_error(userMessage(error) + " Pass --force to replace it.");
        }
        throw;
    }
}

} // namespace

int runBackupCommand(const GlobalOptions& global, const BackupOptions& options, Console& console) {
    CommandInterrupts interrupts(console);
    const std::string nothingSaved = "Interrupted. No backup was saved.";
    interrupts.endAtOnce(nothingSaved);
    // A file that must not or cannot be written is refused before the calculator is read.
    if (options.output) {
        saveNamed([&] { requireSavable(*options.output, options.force); });
    } else {
        requireWritableFolder(std::filesystem::current_path());
    }

    DeviceSession session(global);
    const ConnectedTarget& target = session.connectSupported();
    Bytes firmware;
    {
        ProgressDisplay display(console.err, console.errorIsTerminal);
        firmware = session.flasher().readApplication(target.client, display.progress());
    }
    session.close();
    const BackupChecksumAssessment verdict = VoyagerFirmwareChecksum::backupAssessment(firmware);

    interrupts.finishFirst();
    std::filesystem::path file;
    if (!options.output) {
        file = writeNewFileAtomically(
            verdict.defaultBackupFileName(std::chrono::system_clock::now()), firmware);
    } else if (options.force) {
        file = *options.output;
        writeFileAtomically(file, firmware);
    } else {
        file = *options.output;
        saveNamed([&] { createFileAtomically(file, firmware); });
    }
    console.out << "Saved " << firmware.size() << " bytes to " << file.string() << ".\n";
    console.out << verdict.message() << '\n';
    return 0;
}

} // namespace pelwick
