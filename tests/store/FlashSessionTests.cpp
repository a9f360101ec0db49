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
    h.pass(); // a second pass would open the same port again
    EXPECT_EQ(h.bench->opens, 0);

    h.platform.advance(2.6); // past the watchdog
    const int notifications = h.notifications;
    ASSERT_TRUE(h.platform.background->releaseHeld());
    h.platform.settle();
    EXPECT_EQ(h.bench->closes, 1);             // closed, not adopted
    EXPECT_EQ(h.notifications, notifications); // nothing shown changes
}

// A kept client that stopped answering is replaced before the operation, after a pause; a live
// one is used as it is. (A monitor that stays silent fails the operation: see the texts.)
TEST(FlashSession, ADeadClientIsReplacedBeforeTheOperation) {
    StoreHarness h;
    h.toProgrammingMode();
    h.bench->silenceOpenConnections();
    h.advanceStep(); // the backup step reads the calculator
    EXPECT_TRUE(h.store->wizard().isBusy);
    h.platform.advance(1.9);
    EXPECT_EQ(h.bench->opens, 1) << "still pausing";
    h.platform.advance(0.1);
    EXPECT_FALSE(h.store->wizard().isBusy);
    EXPECT_TRUE(h.store->currentFirmware());
    EXPECT_FALSE(h.store->lastError());
    EXPECT_EQ(h.bench->opens - h.bench->closes, 1);
    h.store->checkCurrentFirmware();
    h.platform.settle();
    EXPECT_EQ(h.bench->opens, 2); // the live client was kept
}

// A pass tries a monitor's port, not another cable's. An unsupported chip found there is refused
// before anything is read or written and stays connected; later passes only ping it. Unplugging
// closes the client.
TEST(FlashSession, ThePassTriesTheMonitorAndAnUnsupportedChipStaysConnectedWithNothingEnabled) {
    StoreHarness h;
    h.bench->makeUnsupported();
    h.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    h.store->start();
    h.toProgrammingMode();
    EXPECT_EQ(h.bench->opens, 0);
    h.bench->listing->set(
        {SerialPort{"/dev/cu.usbserial-1420"}, SerialPort{"/dev/cu.usbmodem14101"}});
    h.pass();
    EXPECT_EQ(h.store->portPath(), "/dev/cu.usbmodem14101");
    EXPECT_TRUE(h.store->client());
    EXPECT_FALSE(h.store->canBackup());
    EXPECT_FALSE(h.store->wizard().canAdvance());
    const int notifications = h.notifications;
    h.platform.advance(3.0);
    EXPECT_EQ(h.bench->opens, 1);
    EXPECT_EQ(h.notifications, notifications);

    h.bench->listing->set({});
    h.pass();
    EXPECT_FALSE(h.store->client());
    EXPECT_EQ(h.bench->closes, 1);
}

// A backup that cannot be saved says so, leaves the step unresolved and creates nothing; one
// that can holds the image read.
TEST(FlashSession, ABackupIsSavedOrTheStepStaysUnresolved) {
    StoreHarness h;
    h.reachBackupStep();
    h.platform.dialogs->saveAnswers.push_back(h.folder / "missing" / "backup.bin");
    h.store->backup();
    EXPECT_TRUE(h.store->lastError());
    EXPECT_FALSE(h.store->wizard().backupResolved);
    EXPECT_FALSE(std::filesystem::exists(h.folder / "missing"));
    h.platform.dialogs->saveAnswers.push_back(h.folder / "backup.bin");
    h.store->backup();
    EXPECT_TRUE(h.store->wizard().backupResolved);
    EXPECT_EQ(readWholeFile(h.folder / "backup.bin"), h.bench->application());
}

// What is written is what was judged: nothing before the backup step is resolved, nor after a
// file of the wrong size was chosen, nor when the file changed or went since it was checked.
TEST(FlashSession, OnlyTheBytesJudgedAreWritten) {
    enum Case { backupUnresolved, wrongSize, changed, removed };
    for (const Case c : {backupUnresolved, wrongSize, changed, removed}) {
        StoreHarness h;
        const auto firmware = h.folder.write("firmware.bin", patternImage(3));
        if (c == backupUnresolved) {
            h.reachBackupStep();
            h.store->applyFirmware(firmware);
        } else {
            h.reachFlashStep(firmware);
        }
        const Bytes before = h.bench->application();
        if (c == wrongSize) {
            h.store->applyFirmware(h.folder.write("short.bin", Bytes(100, 1)));
        } else if (c == changed) {
            h.folder.write("firmware.bin", patternImage(4));
        } else if (c == removed) {
            std::filesystem::remove(firmware);
        }
        h.store->flash();
        h.platform.settle();
        EXPECT_FALSE(h.store->wizard().flashSucceeded) << c;
        EXPECT_EQ(h.bench->application(), before) << c;
        EXPECT_EQ(h.store->lastError().has_value(), c != backupUnresolved) << c;
    }
}

// A refused open gets help beside the unchanged status, and under the error of an operation
// whose reconnect is refused; other errors get none.
TEST(FlashSession, ARefusedPortGetsItsHelp) {
    StoreHarness h;
    const std::string port = "/dev/cu.usbmodem14101";
    h.bench->refuseOpens = EACCES;
    h.store->start();
    h.toProgrammingMode();
    EXPECT_EQ(h.store->portOpenHelp(), serialOpenHelp(port, EACCES));
    EXPECT_FALSE(h.store->lastError());
    h.bench->refuseOpens = 0;
    h.platform.advance(1.0);
    ASSERT_TRUE(h.store->client());
    EXPECT_FALSE(h.store->portOpenHelp());

    h.bench->silenceOpenConnections();
    h.bench->refuseOpens = EBUSY;
    h.store->advance();
    h.platform.advance(2.0);
    EXPECT_EQ(h.store->lastError(), FlasherError::serialOpenFailed(port).errorDescription());
    EXPECT_EQ(h.store->lastErrorHelp(), serialOpenHelp(port, EBUSY));

    h.bench->refuseOpens = 0;
    h.bench->allSilent = true;
    h.store->checkCurrentFirmware();
    h.platform.advance(2.0);
    EXPECT_TRUE(h.store->lastError());
    EXPECT_FALSE(h.store->lastErrorHelp());
}

} // namespace
