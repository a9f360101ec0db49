#include "SimulatedBench.h"
#include "StoreHarness.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* waitingHint =
    "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";

// A FLASH session whose "real cable" is a simulated bench.
struct FlashSession {
    FlashSession() {
        h.begin(FlasherMode::flash);
        firmwarePath = folder.write("firmware.bin", patternImage(3));
    }

    // Cable confirmed; the pass it starts has connected.
    void connect() {
        h.store->advance();
        h.platform.settle();
    }

    // Cable confirmed; the connection attempt of the pass it starts is held.
    void connectHeld() {
        h.platform.background->holdNextJobs(1);
        connect();
        ASSERT_EQ(h.platform.background->heldCount(), 1u);
    }

    // Connected, firmware read, backup skipped, firmware chosen: at the flash step.
    void reachFlashStep() {
        connect();
        h.store->advance();
        h.platform.settle();
        h.store->skipBackup();
        h.store->advance();
        h.store->applyFirmware(firmwarePath);
        h.store->advance();
    }

    std::shared_ptr<SimulatedBench> bench = SimulatedBench::make();
    StoreHarness h{[bench = bench] { return bench->flasher(); }};
    TempDir folder;
    std::filesystem::path firmwarePath;
};

} // namespace

TEST(FlashFailures, VerifyMismatchDropsTheConnectionAndTheNextPassReconnects) {
    FlashSession s;
    auto& store = *s.h.store;
    store.start();
    s.reachFlashStep();
    ASSERT_EQ(store.wizard().step, WizardStep::flash);
    ASSERT_TRUE(store.canFlash());

    s.bench->blockReadsUntilTamper = 1; // the first block read of the verify pass
    store.flash();
    s.h.platform.settle();
    const std::string mismatch = "Verify failed: flash contents do not match the firmware file. "
                                 "Leave the cable in programming mode and try again.";
    EXPECT_EQ(store.lastError(), mismatch);
    EXPECT_EQ(store.status(), "Operation failed.");
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.identity());
    EXPECT_EQ(store.wizard().step, WizardStep::flash);
    EXPECT_FALSE(store.wizard().flashSucceeded);
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_FALSE(store.wizard().identitySupported);
    EXPECT_FALSE(store.progress());
    EXPECT_EQ(s.bench->opens, s.bench->closes);

    s.h.platform.advance(1.0);
    EXPECT_TRUE(store.client());
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_TRUE(store.canFlash());
    // The failure stays on screen until the user acts.
    s.h.platform.advance(2.0);
    EXPECT_EQ(store.lastError(), mismatch);
}

TEST(FlashFailures, AConnectionThatAnswersAfterTheWatchdogIsClosedAndNoPassCompetesWithIt) {
    FlashSession s;
    auto& store = *s.h.store;
    s.connectHeld();
    EXPECT_EQ(store.status(), "Waiting for SAM-BA…");

    // A second pass (the loop's, or the simulator switch's) would open the same port again.
    const std::size_t jobs = s.h.platform.background->submittedCount();
    store.refreshConnection();
    s.h.platform.settle();
    EXPECT_EQ(s.h.platform.background->submittedCount(), jobs);

    s.h.platform.advance(2.4);
    EXPECT_EQ(store.status(), "Waiting for SAM-BA…");
    s.h.platform.advance(0.2); // the watchdog fires at 2.5 s
    EXPECT_EQ(store.status(), waitingHint);
    EXPECT_FALSE(store.client());
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodem14101");

    // The device answers at 2.6 s: its connection is closed and nothing changes.
    const int notifications = s.h.notifications;
    ASSERT_TRUE(s.h.platform.background->releaseHeld());
    s.h.platform.settle();
    EXPECT_EQ(s.bench->opens, 1);
    EXPECT_EQ(s.bench->closes, 1);
    EXPECT_FALSE(store.client());
    EXPECT_EQ(store.status(), waitingHint);
    EXPECT_EQ(s.h.notifications, notifications);

    // That attempt is over: the next pass runs again and connects.
    store.refreshConnection();
    s.h.platform.settle();
    EXPECT_EQ(s.bench->opens, 2);
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
}

TEST(FlashFailures, AKeptClientThatStopsAnsweringIsReplacedBeforeTheOperation) {
    FlashSession s;
    auto& store = *s.h.store;
    s.connect();
    ASSERT_TRUE(store.client());
    s.bench->silenceOpenConnections();

    store.advance(); // the backup step reads the calculator
    s.h.platform.settle();
    EXPECT_EQ(store.status(), "Reconnecting to SAM-BA…");
    EXPECT_FALSE(store.client());
    EXPECT_TRUE(store.wizard().isBusy);
    s.h.platform.advance(1.9);
    EXPECT_EQ(s.bench->opens, 1); // still pausing
    s.h.platform.advance(0.1);
    EXPECT_EQ(s.bench->opens, 2);
    EXPECT_TRUE(store.client());
    EXPECT_EQ(store.successMessage(), "Firmware checked.");
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    const auto reading = s.h.statusIndex("Reading firmware…");
    ASSERT_TRUE(reading);
    EXPECT_TRUE(s.h.statusIndex("Reconnecting to SAM-BA…", *reading));

    // A live client is used as it is, without a reconnect.
    const std::size_t before = s.h.statuses.size();
    store.checkCurrentFirmware();
    s.h.platform.settle();
    EXPECT_EQ(s.bench->opens, 2);
    EXPECT_EQ(store.successMessage(), "Firmware checked.");
    EXPECT_FALSE(s.h.statusIndex("Reconnecting to SAM-BA…", before));
}

TEST(FlashFailures, AReconnectThatTimesOutFailsWithItsOwnMessage) {
    FlashSession s;
    auto& store = *s.h.store;
    s.connect();
    s.bench->allSilent = true;

    store.advance();
    s.h.platform.advance(2.0);
    EXPECT_EQ(store.lastError(),
              "Timed out reconnecting to SAM-BA. Leave the cable plugged in. If Status is not "
              "Connected, hold ERASE, press RESET, then release ERASE.");
    EXPECT_EQ(store.status(), "Operation failed.");
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_FALSE(store.client());
    EXPECT_EQ(store.wizard().step, WizardStep::backup);
    EXPECT_FALSE(store.currentFirmware());
    EXPECT_EQ(s.bench->opens, s.bench->closes);
}

TEST(FlashFailures, AnUnsupportedChipStaysConnectedWithNothingEnabled) {
    FlashSession s;
    auto& store = *s.h.store;
    s.bench->makeUnsupported();
    store.start();
    s.connect();
    EXPECT_EQ(store.status(), "Unsupported chip: ATSAM4LC8C");
    EXPECT_EQ(
        store.lastError(),
        FlasherError::unsupportedDevice("ATSAM4LC8C", 0xAB0B0AE0, 0x1400000F).errorDescription());
    EXPECT_TRUE(store.client());
    EXPECT_FALSE(store.wizard().identitySupported);
    EXPECT_FALSE(store.canBackup());
    EXPECT_FALSE(store.wizard().canAdvance());

    // Later passes only ping it; the status stays.
    const int notifications = s.h.notifications;
    s.h.platform.advance(3.0);
    EXPECT_EQ(s.bench->opens, 1);
    EXPECT_EQ(store.status(), "Unsupported chip: ATSAM4LC8C");
    EXPECT_EQ(s.h.notifications, notifications);
}

TEST(FlashFailures, CableListingDecidesWhatAPassTries) {
    FlashSession s;
    auto& store = *s.h.store;
    s.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    s.connect();
    EXPECT_EQ(store.status(), "Cable detected. Hold ERASE, press RESET, then release ERASE.");
    EXPECT_EQ(store.portPath(), "/dev/cu.usbserial-1420");
    EXPECT_EQ(s.bench->opens, 0);

    s.bench->listing->set(
        {SerialPort{"/dev/cu.usbserial-1420"}, SerialPort{"/dev/CU.USBMODEM14101"}});
    store.refreshConnection();
    s.h.platform.settle();
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_EQ(store.portPath(), "/dev/CU.USBMODEM14101");

    // Unplugged: the next pass closes the client.
    s.bench->listing->set({});
    store.refreshConnection();
    s.h.platform.settle();
    EXPECT_EQ(store.status(), "Waiting for programming cable…");
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.portPath());
    EXPECT_EQ(s.bench->closes, 1);
}

TEST(FlashFailures, BackupFilesAreWrittenWholeOrNotAtAll) {
    FlashSession s;
    auto& store = *s.h.store;
    s.connect();
    store.advance();
    s.h.platform.settle();
    ASSERT_TRUE(store.currentFirmware());

    // A folder that does not exist: a plain message, the step stays unresolved.
    s.h.platform.dialogs->saveAnswers.push_back(s.folder / "missing" / "backup.bin");
    store.backup();
    ASSERT_TRUE(store.lastError());
    EXPECT_TRUE(store.lastError()->starts_with("Could not write "));
    EXPECT_FALSE(store.wizard().backupResolved);
    EXPECT_FALSE(std::filesystem::exists(s.folder / "missing"));

    // Replacing an earlier file leaves exactly the new image and no temporary file behind.
    const auto target = s.folder.write("old.bin", Bytes(10, 0x55));
    s.h.platform.dialogs->saveAnswers.push_back(target);
    store.backup();
    EXPECT_FALSE(store.lastError());
    EXPECT_EQ(readWholeFile(target), *store.currentFirmware());
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(s.folder.path())) {
        ++files;
    }
    EXPECT_EQ(files, 2); // firmware.bin and old.bin

    // A cancelled dialog changes nothing.
    const int notifications = s.h.notifications;
    store.backup();
    EXPECT_EQ(s.h.notifications, notifications);
}

TEST(FlashFailures, FirmwareFilesOfTheWrongSizeAreRefused) {
    FlashSession s;
    auto& store = *s.h.store;
    store.applyFirmware(s.firmwarePath);
    ASSERT_TRUE(store.wizard().firmwareOK);
    Bytes shortImage = patternImage(3);
    shortImage.pop_back();
    store.applyFirmware(s.folder.write("short.bin", shortImage));
    EXPECT_EQ(store.lastError(), "Firmware is 114687 bytes; expected 114688 bytes (0x1c000).");
    EXPECT_EQ(store.firmwareDetail(), store.lastError());
    EXPECT_EQ(store.expectedChecksumLabel(), "ChE - - ----h");
    EXPECT_FALSE(store.wizard().firmwareOK);
    EXPECT_FALSE(store.firmwareURL());

    // flash() without a chosen firmware does nothing at all.
    const int notifications = s.h.notifications;
    store.flash();
    EXPECT_EQ(s.h.notifications, notifications);
    EXPECT_FALSE(store.wizard().isBusy);
}

TEST(FlashFailures, AFirmwareFileThatChangedSinceItWasCheckedIsNotWritten) {
    const std::vector<std::function<void(FlashSession&)>> changes{
        [](FlashSession& s) { s.folder.write("firmware.bin", patternImage(4)); },
        [](FlashSession& s) { std::filesystem::remove(s.firmwarePath); },
    };
    for (std::size_t change = 0; change < changes.size(); ++change) {
        FlashSession s;
        auto& store = *s.h.store;
        s.reachFlashStep();
        const Bytes before = SimulatedBench::applicationOf(*s.bench->calculator);
        changes[change](s);
        store.flash();
        s.h.platform.settle();
        EXPECT_EQ(store.lastError(),
                  "The firmware file changed since it was checked. Choose it again.")
            << change;
        EXPECT_EQ(store.status(), "Operation failed.") << change;
        EXPECT_FALSE(store.wizard().isBusy) << change;
        EXPECT_FALSE(store.wizard().flashSucceeded) << change;
        EXPECT_EQ(SimulatedBench::applicationOf(*s.bench->calculator), before) << change;
    }
}

TEST(FlashFailures, TheSimulatorShortcutWaitsWhileAFlashReconnects) {
    FlashSession s;
    auto& store = *s.h.store;
    store.start();
    s.reachFlashStep();
    s.bench->silenceOpenConnections();
    store.flash();
    s.h.platform.settle();
    ASSERT_EQ(store.status(), "Reconnecting to SAM-BA…");

    EXPECT_TRUE(store.handleSimulatorShortcut());
    s.h.platform.settle();
    EXPECT_FALSE(store.usingSimulator());
    EXPECT_EQ(store.selectedMode(), FlasherMode::flash);
    s.h.platform.advance(2.0);
    EXPECT_EQ(store.successMessage(), "Flashed and verified.");
    EXPECT_EQ(SimulatedBench::applicationOf(*s.bench->calculator), patternImage(3));

    // Once the flash is over the shortcut switches, and DEMO holds no real connection.
    store.handleSimulatorShortcut();
    s.h.platform.settle();
    EXPECT_TRUE(store.usingSimulator());
    EXPECT_FALSE(store.client());
    EXPECT_EQ(s.bench->opens, s.bench->closes);
}

TEST(FlashFailures, GoingBackToTheCableDropsTheAttemptInFlight) {
    FlashSession s;
    auto& store = *s.h.store;
    s.connectHeld();
    store.goBack();
    ASSERT_EQ(store.wizard().step, WizardStep::cable);

    s.h.platform.background->releaseHeld();
    s.h.platform.settle();
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.identity());
    EXPECT_NE(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_EQ(s.bench->opens, 1);
    EXPECT_EQ(s.bench->closes, 1);
}
