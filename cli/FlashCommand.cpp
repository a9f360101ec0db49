#include "Commands.h"
#include "DeviceSession.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/FileIO.h"
#include "util/Format.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {

namespace {

bool userConfirms(Console& console) {
    console.err << "Flash at 0x04000? [y/N] " << std::flush;
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

// Fails early, before the port is touched, for a backup folder that cannot take the backup; the
// write itself can still fail later, but then also before anything reaches the calculator.
void requireWritableFolder(const std::filesystem::path& folder) {
    struct stat info {};
    int error = 0;
    if (::stat(folder.c_str(), &info) != 0) {
        error = errno;
    } else if (!S_ISDIR(info.st_mode)) {
        error = ENOTDIR;
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        error = errno;
    }
    if (error != 0) {
        throw FileAccessError("write to", folder, std::error_code(error, std::generic_category()));
    }
}

} // namespace

int runFlashCommand(const GlobalOptions& global, const FlashOptions& options, Console& console) {
    // A missing or wrong-size file is refused before the port is touched.
    const FirmwareImage image = FirmwareImage::load(options.file, true);
    if (!options.yes && !console.inputIsTerminal) {
        throw std::runtime_error("Refusing to flash without confirmation: standard input is not a "
                                 "terminal. Pass --yes to confirm.");
    }
    if (options.backupDirectory) {
        requireWritableFolder(*options.backupDirectory);
    }

    DeviceSession session(global);
    const ConnectedTarget& target = session.connectSupported();
    std::ostream& out = console.out;
    out << "Connected to " << target.identity.name << " on " << target.port.path << ".\n";

    Bytes current;
    {
        ProgressDisplay display(console.err, console.errorIsTerminal);
        current = session.flasher().readApplication(target.client, display.progress());
    }
    const BackupChecksumAssessment backup = VoyagerFirmwareChecksum::backupAssessment(current);
    out << "On the calculator: " << backup.message() << '\n';
    out << "In " << options.file << ": "
        << VoyagerFirmwareChecksum::firmwareFileAssessment(image.data, backup, false).message()
        << '\n'
        << std::flush;

    if (options.backupDirectory) {
        const std::filesystem::path file =
            std::filesystem::path(*options.backupDirectory) /
            backup.defaultBackupFileName(std::chrono::system_clock::now());
        writeFileAtomically(file, current);
        out << "Saved the calculator's firmware to " << file.string() << ".\n" << std::flush;
    }

    if (!options.yes && !userConfirms(console)) {
        throw std::runtime_error("Flash cancelled. Nothing was written to the calculator.");
    }

    const auto started = MonotonicClock::now();
    {
        ProgressDisplay display(console.err, console.errorIsTerminal);
        session.flasher().write(image, FlashLayout::applicationStart, target.client, true,
                                display.progress(), display.pageProgress());
    }
    const double seconds = std::chrono::duration<double>(MonotonicClock::now() - started).count();
    session.close();
    out << formatString("Flashed and verified. (%.1f s)\n", seconds);
    out << "After a restart the test menu should show: "
        << VoyagerFirmwareChecksum::testMenuDisplayOf(image.data) << '\n';
    return 0;
}

} // namespace pelwick
