#include "BatchRun.h"
#include "BatchSessionStamp.h"
#include "Commands.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"
#include "util/FileIO.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace pelwick {

namespace {

// Fails, before any port is touched, for a backup folder that cannot take a file: it makes one
// there and removes it again, so a read-only file system or a missing folder shows at once.
void requireWritableFolder(const std::filesystem::path& folder) {
    std::string probe = (folder / ".pelwick-batch-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        throw FileAccessError("write to", folder, std::error_code(errno, std::generic_category()));
    }
    ::close(fd);
    ::unlink(probe.c_str());
}

// Blocks the ending signals in the calling thread, and so in every thread it starts, and takes
// them on a watcher thread instead: an interrupt asks the batch to stop, and never kills it in
// the middle of a flash. SIGPIPE is blocked too, so that a reader of the output who goes away
// cannot kill it either (the write just fails). The old mask comes back at the end.
class InterruptWatcher {
public:
    explicit InterruptWatcher(BatchRun& batch) {
        sigemptyset(&endSignals_);
        for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&endSignals_, number);
        }
        sigset_t blocked = endSignals_;
        sigaddset(&blocked, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
        watcher_ = std::thread([this, &batch] {
            const timespec tick{0, 100'000'000};
            while (watching_) {
                if (sigtimedwait(&endSignals_, nullptr, &tick) > 0) {
                    batch.requestStop();
                }
            }
        });
    }

    ~InterruptWatcher() {
        watching_ = false;
        watcher_.join();
        // A signal that came after the batch ended has nothing left to stop.
        sigset_t blocked = endSignals_;
        sigaddset(&blocked, SIGPIPE);
        const timespec now{0, 0};
        while (sigtimedwait(&blocked, nullptr, &now) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

private:
    sigset_t endSignals_{};
    sigset_t previous_{};
    std::atomic<bool> watching_{true};
    std::thread watcher_;
};

} // namespace

int runBatchCommand(const GlobalOptions& global, const BatchOptions& options, Console& console) {
    // A missing, empty or wrong-size file is refused before any port is touched, as by "flash".
    const FirmwareImage image = FirmwareImage::load(options.file, true);
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
    const InterruptWatcher watcher(batch);
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
