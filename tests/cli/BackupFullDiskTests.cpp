// A backup that does not fit on the disk fails with a plain message and leaves the earlier file
// of that name as it was, with no partial file beside it: through the flasher facade and through
// pelwick-cli.

#include "CliProcess.h"

#include "flasher/Flasher.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace pelwick::testing {
namespace {

namespace fs = std::filesystem;

/// A folder where a second full backup does not fit. Where the process may mount, it is a tmpfs
/// of 200 KiB (always unmounted again); elsewhere the writes run in a child process whose file
/// size limit is below one image, so they fail part-way just the same (EFBIG instead of ENOSPC).
class SmallDisk {
public:
    SmallDisk() {
        mounted_ = ::mount("tmpfs", folder_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           "size=200k,mode=0755") == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(folder_.path().c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    const fs::path& path() const { return folder_.path(); }
    bool mounted() const { return mounted_; }

    /// The system's words for the failure this folder produces.
    std::string reason() const { return mounted_ ? "No space left on device" : "File too large"; }

    /// Free bytes, as the file system reports them.
    unsigned long long freeBytes() const {
        struct statvfs info {};
        ::statvfs(folder_.path().c_str(), &info);
        return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    }

    /// Runs `body` under the folder's limit and returns what it returned.
    std::string limited(const std::function<std::string()>& body) const {
        if (mounted_) {
            return body();
        }
        return inChildProcess(
                   [] {
                       std::signal(SIGXFSZ, SIG_IGN);
                       const rlimit limit{64 * 1024, 64 * 1024};
                       return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
                   },
                   body)
            .value_or("the file size limit could not be set");
    }

    /// The names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    TempDir folder_;
    bool mounted_ = false;
};

TEST(BackupFullDisk, AFailedBackupKeepsTheEarlierFileAndSaysWhy) {
    SmallDisk disk;
    const fs::path backup = disk.path() / "hp15c-backup.bin";
    const Bytes earlier = patternImage(11);
    writeFileAtomically(backup, earlier);
    if (disk.mounted()) {
        // Room for part of a second image, so the write fails in the middle of it.
        EXPECT_LT(disk.freeBytes(), earlier.size());
        EXPECT_GT(disk.freeBytes(), 0u);
    }
    const std::string failure = "Could not write " + backup.string() + ": " + disk.reason() + ".";

    // The facade reads the whole calculator, then the save fails.
    const std::string facade = disk.limited([&] {
        try {
            Flasher::simulated(std::make_shared<SimulatedCalculatorTransport>(0.0, true))
                .read(backup, nullptr);
            return std::string("saved");
        } catch (...) {
            return currentExceptionMessage();
        }
    });
    EXPECT_EQ(facade, failure);
    EXPECT_EQ(readWholeFile(backup), earlier);
    EXPECT_EQ(disk.names(), std::vector<std::string>{"hp15c-backup.bin"});

    // The command line says the same on standard error and exits with 1.
    const std::string cli = disk.limited([&] {
        const CliRun run = runCli({"--demo", "backup", "-o", backup.string(), "--force"});
        return std::to_string(run.status) + " " + run.err;
    });
    // Standard error: the progress line, then the reason as the last line.
    EXPECT_TRUE(cli.starts_with("1 ")) << cli;
    EXPECT_TRUE(cli.ends_with("\n" + failure + "\n")) << cli;
    EXPECT_EQ(readWholeFile(backup), earlier);
    EXPECT_EQ(disk.names(), std::vector<std::string>{"hp15c-backup.bin"});

    // With the earlier file gone a tmpfs has room again, and the same command succeeds.
    if (disk.mounted()) {
        fs::remove(backup);
        EXPECT_EQ(runCli({"--demo", "backup", "-o", backup.string()}).status, 0);
        EXPECT_EQ(fs::file_size(backup), earlier.size());
    }
}

} // namespace
} // namespace pelwick::testing
