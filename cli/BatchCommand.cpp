#include "BatchRun.h"
#include "BatchSessionStamp.h"
#include "Commands.h"
#include "InterruptWatcher.h"
#include "JsonFacts.h"
#include "NamedPort.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"
#include "util/FileIO.h"

#include <cmath>
#include <ostream>

namespace pelwick {

int runBatchCommand(const GlobalOptions& global, const BatchOptions& options, Console& console) {
    // With --json every line is an object: one per unit, then this report as the summary.
    if (console.report) {
        console.report->set("type", "summary");
    }
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
    settings.json = console.json();
    settings.quiet = console.quiet;
    settings.trace = console.trace;

    BatchRun batch(global, settings, console.out, console.err);
    // An interrupt asks the batch to stop: the units in progress are finished, never cut off.
    const InterruptWatcher watcher([&batch] { batch.requestStop(); });
    const auto announce = [&] {
        if (console.quiet) {
            return;
        }
        console.err << "Flashing " << options.file
                    << " onto each calculator that appears in programming mode"
                    << (options.parallel ? ", all at once" : ", one at a time")
                    << ". Hold ERASE, press RESET, then release ERASE. After a restart the "
                       "test menu should show: "
                    << VoyagerFirmwareChecksum::testMenuDisplayOf(image.data) << '\n'
                    << (options.count
                            ? "The batch ends after " + std::to_string(*options.count) +
                                  (*options.count == 1 ? " unit" : " units") + " or on Ctrl-C.\n"
                            : std::string("Press Ctrl-C to end the batch.\n"))
                    << std::flush;
    };
    const BatchSummary summary = batch.run(announce);
    if (JsonReport* report = console.report.get()) {
        report->set("done", summary.done());
        report->set("failed", summary.failed());
        report->set("seconds", std::round(summary.seconds * 1000) / 1000);
        if (summary.listingError) {
            report->setError({"listing", *summary.listingError});
        } else if (!summary.succeeded()) {
            report->setError(
                {"unitsFailed", "Units that failed: " + std::to_string(summary.failed()) + " of " +
                                    std::to_string(summary.units.size()) + "."});
        }
    } else {
        console.out << summary.line() << '\n' << std::flush;
    }
    return summary.succeeded() ? 0 : 1;
}

} // namespace pelwick
