#include "BatchRun.h"
#include "BatchSessionStamp.h"
#include "Commands.h"
#include "InterruptWatcher.h"
#include "NamedPort.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"
#include "util/FileIO.h"

#include <ostream>

namespace pelwick {

int runBatchCommand(const GlobalOptions& global, const BatchOptions& options, Console& console) {
    // A missing, empty or wrong-size file is refused before any port is touched, as by "flash".
    const FirmwareImage image = FirmwareImage::load(options.file, true);
    // So is a named port that can never be a cable, instead of being waited for.
    if (global.port && !global.demo) {
        requirePossiblePort(*global.port);
    }
    std::optional<std::filesystem::path> backupFolder;
    if (options.backupDirectory) {
        backupFolder = *options.backupDirectory;
        requireWritableFolder(*backupFolder);
    }

    BatchRun::Settings settings;
    settings.firmware = image;
    settings.backupFolder = backupFolder;
    settings.sessionStamp = batchSessionStamp(std::chrono::system_clock::now(), backupFolder);
    settings.parallel = options.parallel;
    settings.unitLimit = options.count;

    BatchRun batch(global, settings, console.out, console.err);
    // An interrupt asks the batch to stop: the units in progress are finished, never cut off.
    const InterruptWatcher watcher([&batch] { batch.requestStop(); });
    const auto announce = [&] {
        console.err << "Flashing " << options.file << " onto each calculator that appears in "
                    << "programming mode"
                    << (options.parallel ? ", all at once" : ", one at a time")
                    << ". Hold ERASE, press RESET, then release ERASE. After a restart the test "
                       "menu should show: "
                    << VoyagerFirmwareChecksum::testMenuDisplayOf(image.data) << '\n'
                    << (options.count
                            ? "The batch ends after " + std::to_string(*options.count) +
                                  (*options.count == 1 ? " unit" : " units") + " or on Ctrl-C.\n"
                            : std::string("Press Ctrl-C to end the batch.\n"))
                    << std::flush;
    };
    const BatchSummary summary = batch.run(announce);
    console.out << summary.line() << '\n' << std::flush;
    return summary.succeeded() ? 0 : 1;
}

} // namespace pelwick
