#include "StoreHarness.h"

#include "device/FlasherError.h"
#include "device/SerialOpenHelp.h"
#include "util/FileIO.h"

#include <cerrno>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

TEST(FlashSession, AConnectionThatAnswersAfterTheWatchdogIsClosedAndNoPassCompetesWithIt) {
    StoreHarness h;
    h.begin(FlasherMode::flash);
    h.platform.background->holdNextJobs(1);
    h.advanceStep();
    // A second pass would open the same port again.
    const std::size_t jobs = h.platform.background->submittedCount();
    h.store->refreshConnection();
    h.platform.settle();
    EXPECT_EQ(h.platform.background->submittedCount(), jobs);

    h.platform.advance(2.6); // past the watchdog
    const std::string waiting = h.store->status();
    const int notifications = h.notifications;
    ASSERT_TRUE(h.platform.background->releaseHeld());
    h.platform.settle();
    EXPECT_EQ(h.bench->closes, 1);
    EXPECT_FALSE(h.store->client());
    EXPECT_EQ(h.store->status(), waiting);
    EXPECT_EQ(h.notifications, notifications);

    h.store->refreshConnection(); // that attempt is over: the next pass connects
    h.platform.settle();
    EXPECT_EQ(h.bench->opens, 2);
    EXPECT_TRUE(h.store->client());
}

// A kept client that stopped answering is replaced before the operation, after a pause; a live
// one is used as it is.
TEST(FlashSession, ADeadClientIsReplacedBeforeTheOperationAndADeadMonitorFailsIt) {
    for (const bool monitorDead : {false, true}) {
        StoreHarness h;
        h.begin(FlasherMode::flash);
        h.advanceStep();
        h.bench->silenceOpenConnections();
        h.bench->allSilent = monitorDead;
        h.advanceStep(); // the backup step reads the calculator
        EXPECT_TRUE(h.store->wizard().isBusy);
        h.platform.advance(1.9);
        EXPECT_EQ(h.bench->opens, 1) << "still pausing";
        h.platform.advance(0.1);
        EXPECT_FALSE(h.store->wizard().isBusy);
        EXPECT_EQ(h.store->currentFirmware().has_value(), !monitorDead);
        EXPECT_EQ(h.store->lastError().has_value(), monitorDead);
        EXPECT_EQ(h.bench->opens - h.bench->closes, monitorDead ? 0 : 1);
    }
    StoreHarness h;
    h.begin(FlasherMode::flash);
    h.advanceStep();
    h.advanceStep();
    h.store->checkCurrentFirmware();
    h.platform.settle();
    EXPECT_EQ(h.bench->opens, 1);
    EXPECT_TRUE(h.store->currentFirmware());
}

// An unsupported chip is refused before anything is read or written; later passes only ping it.
TEST(FlashSession, AnUnsupportedChipStaysConnectedWithNothingEnabled) {
    StoreHarness h;
    h.bench->makeUnsupported();
    h.store->start();
    h.begin(FlasherMode::flash);
    h.advanceStep();
    EXPECT_TRUE(h.store->client());
    EXPECT_FALSE(h.store->wizard().identitySupported);
    EXPECT_FALSE(h.store->canBackup());
    EXPECT_FALSE(h.store->wizard().canAdvance());
    const int notifications = h.notifications;
    h.platform.advance(3.0);
    EXPECT_EQ(h.bench->opens, 1);
    EXPECT_EQ(h.notifications, notifications);

    // In a batch no unit starts.
    StoreHarness batch;
    batch.bench->makeUnsupported();
    const Bytes before = batch.bench->application();
    batch.store->start();
    batch.begin(FlasherMode::batch);
    batch.store->applyFirmware(batch.folder.write("firmware.bin", patternImage(5)));
    batch.store->startBatch();
    batch.platform.advance(3.0);
    EXPECT_EQ(batch.store->batchPhase(), BatchPhase::error);
    EXPECT_FALSE(batch.store->hasBatchUnitTask());
    EXPECT_EQ(batch.bench->application(), before);
}

TEST(FlashSession, TheListingDecidesWhatAPassTriesAndAnUnplugClosesTheClient) {
    StoreHarness h;
    h.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    h.begin(FlasherMode::flash);
    h.advanceStep();
    EXPECT_EQ(h.bench->opens, 0);
    h.bench->listing->set(
        {SerialPort{"/dev/cu.usbserial-1420"}, SerialPort{"/dev/CU.USBMODEM14101"}});
    h.store->refreshConnection();
    h.platform.settle();
    EXPECT_TRUE(h.store->client());
    EXPECT_EQ(h.store->portPath(), "/dev/CU.USBMODEM14101");

    h.bench->listing->set({});
    h.store->refreshConnection();
    h.platform.settle();
    EXPECT_FALSE(h.store->client());
    EXPECT_FALSE(h.store->portPath());
    EXPECT_EQ(h.bench->closes, 1);
}

TEST(FlashSession, BackupFilesAreWrittenWholeOrNotAtAll) {
    StoreHarness h;
    h.begin(FlasherMode::flash);
    h.advanceStep();
    h.advanceStep();
    ASSERT_TRUE(h.store->currentFirmware());

    h.platform.dialogs->saveAnswers.push_back(h.folder / "missing" / "backup.bin");
    h.store->backup();
    EXPECT_TRUE(h.store->lastError());
    EXPECT_FALSE(h.store->wizard().backupResolved);
    EXPECT_FALSE(std::filesystem::exists(h.folder / "missing"));

    // Replacing a file the user chose leaves exactly the new image and no temporary file.
    const auto target = h.folder.write("old.bin", Bytes(10, 0x55));
    h.platform.dialogs->saveAnswers.push_back(target);
    h.store->backup();
    EXPECT_FALSE(h.store->lastError());
    EXPECT_EQ(readWholeFile(target), *h.store->currentFirmware());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(h.folder.path()), {}), 1);
}

// What is written is what was judged: a file of the wrong size is refused, one that changed since
// it was checked is not written, and flash() without a flashable choice does nothing.
TEST(FlashSession, OnlyTheBytesJudgedAreWritten) {
    StoreHarness h;
    h.begin(FlasherMode::flash);
    h.store->applyFirmware(h.folder.write("short.bin", Bytes(100, 1)));
    EXPECT_EQ(h.store->lastError(),
              FlasherError::firmwareWrongSize(100, 0x1C000).errorDescription());
    EXPECT_FALSE(h.store->wizard().firmwareOK);
    EXPECT_FALSE(h.store->firmwareURL());
    const int notifications = h.notifications;
    h.store->flash();
    EXPECT_EQ(h.notifications, notifications);
    EXPECT_FALSE(h.store->wizard().isBusy);

    // Nothing is written before the backup step is resolved.
    StoreHarness early;
    early.begin(FlasherMode::flash);
    early.advanceStep();
    early.advanceStep();
    early.store->applyFirmware(early.folder.write("firmware.bin", patternImage(3)));
    const Bytes untouched = early.bench->application();
    early.store->flash();
    early.platform.settle();
    EXPECT_EQ(early.bench->application(), untouched);
    EXPECT_FALSE(early.store->wizard().flashSucceeded);

    for (const bool removed : {false, true}) {
        StoreHarness s;
        const auto firmware = s.folder.write("firmware.bin", patternImage(3));
        s.reachFlashStep(firmware);
        const Bytes before = s.bench->application();
        if (removed) {
            std::filesystem::remove(firmware);
        } else {
            s.folder.write("firmware.bin", patternImage(4));
        }
        s.store->flash();
        s.platform.settle();
        EXPECT_TRUE(s.store->lastError()) << removed;
        EXPECT_FALSE(s.store->wizard().flashSucceeded) << removed;
        EXPECT_EQ(s.bench->application(), before) << removed;
    }
}

// A refused open gets help beside the unchanged status, and under the error of an operation
// whose reconnect is refused; other errors get none.
TEST(FlashSession, ARefusedPortGetsItsHelp) {
    StoreHarness h;
    const UsbIdentity monitor{0x03EB, 0x6124, "ATMEL", "SAM-BA", ""};
    const std::string port = h.folder.write("ttyACM1", {}).string();
    // The confirmed monitor is the port tried, though ttyACM0 sorts first.
    h.bench->listing->set({SerialPort{(h.folder / "ttyACM0").string()}, SerialPort{port, monitor}});
    h.bench->refuseOpens = EACCES;
    h.store->start();
    h.begin(FlasherMode::flash);
    h.advanceStep();
    EXPECT_EQ(h.store->portPath(), port);
    EXPECT_EQ(h.store->portOpenHelp(), serialOpenHelp(port, EACCES));
    EXPECT_FALSE(h.store->lastError());
    h.bench->refuseOpens = EBUSY;
    h.platform.advance(1.0);
    EXPECT_EQ(h.store->portOpenHelp(), serialOpenHelp(port, EBUSY));

    h.bench->refuseOpens = 0;
    h.platform.advance(1.0);
    ASSERT_TRUE(h.store->client());
    EXPECT_FALSE(h.store->portOpenHelp());

    h.bench->silenceOpenConnections();
    h.bench->refuseOpens = EACCES;
    h.store->advance();
    h.platform.advance(2.0);
    EXPECT_EQ(h.store->lastError(), FlasherError::serialOpenFailed(port).errorDescription());
    EXPECT_EQ(h.store->lastErrorHelp(), serialOpenHelp(port, EACCES));

    h.bench->refuseOpens = 0;
    h.bench->allSilent = true;
    h.store->checkCurrentFirmware();
    h.platform.advance(2.0);
    EXPECT_NE(h.store->lastError(), FlasherError::serialOpenFailed(port).errorDescription());
    EXPECT_FALSE(h.store->lastErrorHelp());

    h.bench->listing->set({});
    h.platform.advance(1.0);
    EXPECT_FALSE(h.store->portOpenHelp());
}

} // namespace
