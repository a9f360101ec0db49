#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/FileIO.h"

#include <chrono>
#include <ostream>

namespace pelwick {

namespace {

// A file the user named is replaced only when they said so.
template <typename Save> void saveNamed(Save&& save) {
    try {
        save();
    } catch (const FileAccessError& error) {
        if (error.code() == std::errc::file_exists) {
            throw CommandError("fileExists", userMessage(error) + " Pass --force to replace it.");
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

    DeviceSession session(global, console.deviceTrace());
    const ConnectedTarget& target = session.connectSupported();
    if (console.report) {
        reportTarget(*console.report, target);
    }
    Bytes firmware;
    {
        ProgressDisplay display(console);
        firmware = session.flasher().readApplication(target.client, display.progress());
    }
    session.close();
    const BackupChecksumAssessment verdict = VoyagerFirmwareChecksum::backupAssessment(firmware);
    if (console.report) {
        console.report->set("calculator", calculatorFirmwareFacts(verdict));
    }

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
    if (console.report) {
        console.report->set("file", file.string());
        console.report->set("bytes", firmware.size());
        return 0;
    }
    console.out << "Saved " << firmware.size() << " bytes to " << file.string() << ".\n";
    console.out << verdict.message() << '\n';
    return 0;
}

} // namespace pelwick
