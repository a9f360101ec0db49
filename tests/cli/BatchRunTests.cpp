#include "BatchCalculator.h"
#include "BatchRun.h"
#include "BatchSessionStamp.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <ostream>
#include <thread>

namespace pelwick::testing {
namespace {

// An output stream that the batch's threads may write to while the test waits for its lines.
class WatchedStream : private std::streambuf, public std::ostream {
public:
    WatchedStream() : std::ostream(this) {}

    /// The text so far once it holds `count` lines; what there is after 10 s otherwise.
    std::string waitForLines(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return static_cast<std::size_t>(std::count(text_.begin(), text_.end(), '\n')) >= count;
        });
        return text_;
    }

private:
    int overflow(int c) override {
        const std::lock_guard lock(mutex_);
        text_ += static_cast<char>(c);
        changed_.notify_all();
        return c;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
};

BatchRun::Settings quickSettings(const std::filesystem::path& firmware) {
    BatchRun::Settings settings;
    settings.firmware = FirmwareImage::load(firmware, true);
    settings.sessionStamp = "20260105-143209";
    settings.pollInterval = 0.02;
    return settings;
}

GlobalOptions devicesIn(const std::filesystem::path& folder) {
    GlobalOptions global;
    global.deviceDirectory = folder.string();
    global.settle = 0;
    return global;
}

TEST(BatchRun, NeverTouchesAnAttachedUnitTwiceAndTakesAReplugForANewUnit) {
    TempDir folder;
    const Bytes image = patternImage(7);
    const auto firmware = folder.write("image.bin", image);
    const auto devices = folder / "dev";
    std::filesystem::create_directory(devices);
    BatchCalculator first(devices, "ttyACM0", 1);
    BatchCalculator second(devices, "ttyACM1", 2);

    WatchedStream out;
    WatchedStream err;
    BatchRun batch(devicesIn(devices), quickSettings(firmware), out, err);
    BatchSummary summary;
    std::thread runner([&] { summary = batch.run(); });

    out.waitForLines(2);
    // Several looks at the listing later, both are still attached and untouched since.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(first.connections(), 1);
    EXPECT_EQ(second.connections(), 1);

    // Unplugged and plugged in again: a new unit on the same port.
    first.unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.plugIn();
    out.waitForLines(3);
    EXPECT_EQ(first.connections(), 2);

    // A device folder that can no longer be listed ends the batch.
    std::filesystem::rename(devices, folder / "gone");
    runner.join();
    first.stop();
    second.stop();

    ASSERT_EQ(summary.units.size(), 3u);
    EXPECT_EQ(summary.units[0].port, (devices / "ttyACM0").string());
    EXPECT_EQ(summary.units[1].port, (devices / "ttyACM1").string());
    EXPECT_EQ(summary.units[2].port, (devices / "ttyACM0").string());
    EXPECT_EQ(summary.done(), 3);
    EXPECT_EQ(second.connections(), 1);
    EXPECT_EQ(first.application(), image);
    EXPECT_EQ(second.application(), image);
    ASSERT_TRUE(summary.listingError.has_value());
    EXPECT_EQ(*summary.listingError,
              "Could not list " + devices.string() + ": No such file or directory.");
    EXPECT_FALSE(summary.succeeded());
    EXPECT_NE(err.waitForLines(4).find("No new unit is started."), std::string::npos);
}

TEST(BatchRun, AUnitIsFlashedOnlyOnceItsBackupIsSavedUnderAFreeName) {
    TempDir folder;
    const auto firmware = folder.write("image.bin", patternImage(8));
    const auto devices = folder / "dev";
    const auto backups = folder / "backups";
    std::filesystem::create_directory(devices);
    std::filesystem::create_directory(backups);
    BatchCalculator calculator(devices, "ttyACM0", 3);
    BatchRun::Settings settings = quickSettings(firmware);
    settings.unitLimit = 1;
    std::ostringstream out, err;

    // A backup folder that went away.
    settings.backupFolder = folder / "absent";
    const BatchSummary unsaved = BatchRun(devicesIn(devices), settings, out, err).run();
    ASSERT_EQ(unsaved.units.size(), 1u);
    EXPECT_FALSE(unsaved.units[0].succeeded);
    EXPECT_FALSE(unsaved.units[0].backupFile.has_value());
    EXPECT_EQ(unsaved.units[0].result.rfind("Could not write " + (folder / "absent").string(), 0),
              0u)
        << unsaved.units[0].result;

    // A file of another batch under the name this unit's backup would get stays as it was; the
    // backup takes the next free name.
    const auto earlier = backups / "hp15c-20260105-143209-001.bin";
    std::ofstream(earlier) << "earlier";
    settings.backupFolder = backups;
    const BatchSummary kept = BatchRun(devicesIn(devices), settings, out, err).run();
    calculator.stop();
    ASSERT_EQ(kept.units.size(), 1u);
    EXPECT_TRUE(kept.units[0].succeeded) << kept.units[0].result;
    EXPECT_EQ(kept.units[0].backupFile, "hp15c-20260105-143209-001-2.bin");
    // It holds the calculator as it was: the unit without a backup was not flashed.
    EXPECT_EQ(readWholeFile(backups / "hp15c-20260105-143209-001-2.bin"),
              calculator.originalApplication());
    EXPECT_EQ(readWholeFile(earlier), (Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    EXPECT_EQ(calculator.application(), patternImage(8));
}

TEST(BatchSessionStamp, MovesOnPastAnEarlierBatchInTheSameSecond) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 5;
    local.tm_hour = 14;
    local.tm_min = 32;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const auto now = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(batchSessionStamp(now, std::nullopt), "20260105-143209");

    TempDir backups;
    std::ofstream(backups / "hp15c-20260105-143209-004.bin") << "x";
    std::ofstream(backups / "hp15c-20260105-143210-001.bin") << "x";
    std::ofstream(backups / "hp15c-20260105-143212-001.bin") << "x";
    EXPECT_EQ(batchSessionStamp(now, backups.path()), "20260105-143211");
}

} // namespace
} // namespace pelwick::testing
