#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"
#include "ProgressDisplay.h"

#include "device/FlasherError.h"
#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/FileIO.h"
#include "util/Format.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace pelwick {

namespace {

const char* const nothingWritten = "Interrupted. Nothing was written to the calculator.";

bool userConfirms(Console& console, bool backupKept) {
    console.err << (backupKept ? "Flash at 0x04000? [y/N] "
                               : "Flash at 0x04000 without a backup? [y/N] ")
                << std::flush;
    std::string answer;
    if (!std::getline(console.in, answer)) {
        console.err << '\n';
        return false;
    }
    std::erase_if(answer, [](unsigned char c) { return std::isspace(c); });
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

// $XDG_DATA_HOME/pelwick/backups, or ~/.local/share/pelwick/backups.
std::filesystem::path defaultBackupFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return std::filesystem::path(data) / "pelwick" / "backups";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') {
        throw CommandError("file",
                           "No home folder to keep the backup in. Pass --backup-dir DIR, or "
                           "--no-backup to flash without a backup.");
    }
    return std::filesystem::path(home) / ".local" / "share" / "pelwick" / "backups";
}

// The folder the calculator's firmware is saved in, ready to take it; none with --no-backup. A
// folder the user names must exist; the default one is made when it is missing.
std::optional<std::filesystem::path> backupFolderFor(const FlashOptions& options) {
    if (options.noBackup) {
        return std::nullopt;
    }
    std::filesystem::path folder;
    if (options.backupDirectory) {
        folder = *options.backupDirectory;
    } else {
        folder = defaultBackupFolder();
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) {
            throw FileAccessError("create", folder, error);
        }
    }
    requireWritableFolder(folder);
    return folder;
}

std::string incompleteFirmwareText(const std::optional<std::filesystem::path>& backup) {
    return "Stopped in the middle of the write. The calculator now holds incomplete firmware; "
           "flash a firmware file again" +
           (backup ? " (or the backup " + backup->string() + ")" : std::string()) +
           " to put it right.";
}

} // namespace

int runFlashCommand(const GlobalOptions& global, const FlashOptions& options, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce(nothingWritten);
    JsonReport* report = console.report.get();
    // How far the flash got, for --json: it is in the report whenever the report is written.
    const auto result = [report](const char* stage) {
        if (report) {
            report->set("result", stage);
        }
    };
    if (report) {
        report->set("file", options.file);
        report->set("fellBack", false);
    }
    result("notWritten");
    // A missing or wrong-size file is refused before the port is touched; what was read here is
    // what is judged, shown and written.
    const FirmwareImage image = FirmwareImage::load(options.file, true);
    if (!options.yes && !console.inputIsTerminal) {
        throw CommandError("notConfirmed",
                           "Refusing to flash without confirmation: standard input is not a "
                           "terminal. Pass --yes to confirm.");
    }
    const std::optional<std::filesystem::path> backupFolder = backupFolderFor(options);

    DeviceSession session(global, console.deviceTrace());
    const ConnectedTarget& target = session.connectSupported();
    if (report) {
        reportTarget(*report, target);
    }
    console.notes() << "Connected to " << target.identity.name << " on " << target.port.path
                    << ".\n"
                    << std::flush;

    Bytes current;
    {
        ProgressDisplay display(console);
        current = session.flasher().readApplication(target.client, display.progress());
    }
    const BackupChecksumAssessment backup = VoyagerFirmwareChecksum::backupAssessment(current);
    const FirmwareFileAssessment verdict =
        VoyagerFirmwareChecksum::firmwareFileAssessment(image.data, backup, false);
    if (report) {
        report->set("calculator", calculatorFirmwareFacts(backup));
        report->set("firmware", firmwareFileFacts(verdict));
        report->set("backup", nullptr);
    }
    // The verdicts are what the question is about: they are shown whenever it is asked.
    std::ostream& verdicts = options.yes      ? console.notes()
                             : console.json() ? console.err
                                              : console.out;
    verdicts << "On the calculator: " << backup.message() << '\n';
    verdicts << "In " << options.file << ": " << verdict.message() << '\n' << std::flush;

    std::optional<std::filesystem::path> backupFile;
    if (backupFolder) {
        interrupts.finishFirst();
        // A name already taken (another calculator with the same firmware today) gets a number.
        backupFile = writeNewFileAtomically(
            *backupFolder / backup.defaultBackupFileName(std::chrono::system_clock::now()),
            current);
        if (report) {
            report->set("backup", backupFile->string());
        }
        // Where the backup went is part of the result, even with --quiet.
        (console.json() ? console.notes() : console.out)
            << "Saved the calculator's firmware to " << backupFile->string() << ".\n"
            << std::flush;
        interrupts.endAtOnce(nothingWritten);
    }

    if (!options.yes && !userConfirms(console, backupFile.has_value())) {
        throw CommandError("notConfirmed",
                           "Flash cancelled. Nothing was written to the calculator.");
    }
    // The verdict is part of what the user agreed to; one that could not be shown is no verdict.
    if (const auto failure = console.takeOutputFailure()) {
        throw std::runtime_error(*failure + " Nothing was written to the calculator.");
    }

    interrupts.finishFirst("Finishing the write and verify first, so that the calculator is not "
                           "left with incomplete firmware. Press Ctrl-C again to stop at once.",
                           incompleteFirmwareText(backupFile));
    const auto started = MonotonicClock::now();
    result("incomplete");
    try {
        ProgressDisplay display(console);
        bool verifying = false;
        const FlashProgress showProgress = display.progress();
        const FlashProgress progress = [&](double fraction, FlashProgressPhase phase) {
            if (phase == FlashProgressPhase::verifying && !verifying) {
                verifying = true;
                result("unverified");
                interrupts.finishFirst(
                    "Finishing the verify first. Press Ctrl-C again to stop at once.",
                    "Stopped during the verify. The firmware was written completely but not "
                    "checked; run \"pelwick-cli verify " +
                        options.file + "\" to check it.");
            }
            showProgress(fraction, phase);
        };
        const TransferPace::FallbackHandler noteFallback = display.paceFallback();
        const TransferPace::FallbackHandler fallback = [&](const std::string& notice) {
            if (report) {
                report->set("fellBack", true);
            }
            noteFallback(notice);
        };
        session.flasher().write(image, FlashLayout::applicationStart, target.client, true, progress,
                                display.pageProgress(), fallback);
    } catch (const FlasherError& error) {
        // A verify that found a difference leaves the calculator as a write cut short does.
        if (error.kind() == FlasherError::Case::verifyMismatch) {
            result("incomplete");
        }
        throw;
    }
    // Only the report is left; an interrupt now changes nothing.
    interrupts.finishFirst();
    result("flashed");
    const double seconds = secondsSince(started);
    session.close();
    if (report) {
        report->set("seconds", seconds);
        return 0;
    }
    console.out << formatString("Flashed and verified. (%.1f s)\n", seconds);
    console.out << "After a restart the test menu should show: "
                << VoyagerFirmwareChecksum::testMenuDisplayOf(image.data) << '\n';
    return 0;
}

} // namespace pelwick
