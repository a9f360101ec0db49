#include "SimulatedBench.h"
#include "StoreHarness.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

struct BatchSession {
    BatchSession() {
        firmware = patternImage(5);
        preloaded[0] = preloaded[1] = 0x90;
        firmwarePath = folder.write("batch-firmware.bin", firmware);
        std::filesystem::create_directory(backups);
    }

    // A batch session with the firmware chosen and, if asked, automatic backups into `backups`.
    void begin(bool autoSave) {
        h.store->start();
        h.begin(FlasherMode::batch);
        h.store->applyFirmware(firmwarePath);
        if (autoSave) {
            h.store->setBatchBackupChoice(BatchBackupChoice::autoSave);
            h.platform.dialogs->folderAnswers.push_back(backups);
            h.store->chooseBatchBackupFolder();
        }
    }

    std::filesystem::path backupOf(int unit) const {
        return backups / ("hp15c-20260105-143209-00" + std::to_string(unit) + ".bin");
    }

    // Starts the batch; the pass connects and the unit's first device job is held.
    void startAndHoldTheUnit() {
        h.store->startBatch();
        h.platform.background->holdNextJobs(2);
        h.platform.advance(1.0);
        ASSERT_TRUE(h.platform.background->releaseHeld());
        h.platform.settle();
        ASSERT_EQ(h.platform.background->heldCount(), 1u);
    }

    std::shared_ptr<SimulatedBench> bench = SimulatedBench::make();
    StoreHarness h{[bench = bench] { return bench->flasher(); }};
    TempDir folder;
    std::filesystem::path backups = folder / "backups";
    Bytes firmware;
    std::filesystem::path firmwarePath;
    /// What the bench's calculator holds before anything is flashed.
    Bytes preloaded = Bytes(0x1C000, 0x00);
};

} // namespace

TEST(BatchSession, ThreeUnitsAreBackedUpAndFlashedUnderTheirNumbers) {
    BatchSession s;
    auto& store = *s.h.store;
    s.h.store->start();
    s.h.begin(FlasherMode::batch);
    EXPECT_TRUE(store.isBatchSession());
    EXPECT_FALSE(store.usingSimulator());
    EXPECT_EQ(store.selectedMode(), FlasherMode::batch);
    EXPECT_EQ(s.h.platform.settings->writeCount("flasherMode"), 1);
    store.applyFirmware(s.firmwarePath);
    EXPECT_EQ(s.h.platform.settings->string("batchFirmwarePath"), s.firmwarePath.string());

    // autoSave without a folder cannot start.
    store.setBatchBackupChoice(BatchBackupChoice::autoSave);
    EXPECT_FALSE(store.canStartBatch());
    store.startBatch();
    EXPECT_EQ(store.batchPhase(), BatchPhase::setup);
    s.h.platform.dialogs->folderAnswers.push_back(s.backups);
    store.chooseBatchBackupFolder();
    EXPECT_EQ(s.h.platform.dialogs->requests.back().title, "Choose backup folder");
    EXPECT_EQ(s.h.platform.dialogs->requests.back().detail,
              "Each unit’s backup is saved here as hp15c-YYYYMMDD-HHMMSS-NNN.bin.");
    ASSERT_TRUE(store.canStartBatch());

    std::vector<BatchPhase> phases;
    s.h.observe = [&] {
        if (phases.empty() || phases.back() != store.batchPhase()) {
            phases.push_back(store.batchPhase());
        }
    };
    store.startBatch();
    EXPECT_EQ(store.batchSessionStamp(), "20260105-143209");
    EXPECT_EQ(store.batchUnitNumber(), 1);
    EXPECT_EQ(store.status(), "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.");

    s.h.platform.advance(1.0);
    EXPECT_EQ(phases, (std::vector<BatchPhase>{BatchPhase::setup, BatchPhase::waiting,
                                               BatchPhase::backingUp, BatchPhase::flashing,
                                               BatchPhase::unitDone}));
    EXPECT_EQ(store.successMessage(), "Unit 1 flashed and verified.");
    EXPECT_EQ(store.status(), "Unit 1 complete.");
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.hasBatchUnitTask());
    EXPECT_EQ(readWholeFile(s.backupOf(1)), s.preloaded);
    const auto backedUp = s.h.statusIndex("Reading firmware…");
    ASSERT_TRUE(backedUp);
    EXPECT_TRUE(s.h.statusIndex("Verifying firmware…", *backedUp));

    // While the unit is done, the calculator left attached is not touched again.
    const int opens = s.bench->opens;
    s.h.platform.advance(3.0);
    EXPECT_EQ(s.bench->opens, opens);

    store.prepareNextBatchUnit();
    EXPECT_EQ(store.batchUnitNumber(), 2);
    EXPECT_EQ(store.batchPhase(), BatchPhase::waiting);
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.status(), "Unit 2 complete.");
    // The same simulated calculator now holds the batch firmware, and unit 2's backup shows it.
    EXPECT_EQ(readWholeFile(s.backupOf(2)), s.firmware);

    store.prepareNextBatchUnit();
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.successMessage(), "Unit 3 flashed and verified.");
    EXPECT_TRUE(std::filesystem::exists(s.backupOf(3)));
    EXPECT_EQ(s.h.offMainNotifications, 0);
}

TEST(BatchSession, AFailedUnitIsRetriedUnderTheSameNumber) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(true);
    store.startBatch();
    // The unit's backup reads 28 blocks; the 29th block read is the first of the verify pass.
    s.bench->blockReadsUntilTamper = 29;
    s.h.platform.advance(0.5);
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    EXPECT_EQ(store.batchUnitNumber(), 1);
    EXPECT_EQ(store.status(), "Operation failed.");
    EXPECT_TRUE(store.lastError()->starts_with("Verify failed"));
    EXPECT_FALSE(store.hasBatchUnitTask());

    // In error the pass reconnects but starts nothing until the operator retries.
    s.h.platform.advance(2.0);
    EXPECT_TRUE(store.client());
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    // The failure stays on screen until the operator acts.
    ASSERT_TRUE(store.lastError());
    EXPECT_TRUE(store.lastError()->starts_with("Verify failed"));

    // The retry reads the unit again; its first backup, taken before the failed flash, stays.
    store.retryBatchUnit();
    EXPECT_EQ(store.batchUnitNumber(), 1);
    EXPECT_FALSE(store.lastError());
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.batchPhase(), BatchPhase::unitDone);
    EXPECT_EQ(readWholeFile(s.backupOf(1)), s.preloaded);
    const auto beside = s.backups / "hp15c-20260105-143209-001-2.bin";
    EXPECT_NE(readWholeFile(beside), s.preloaded);
    EXPECT_EQ(store.backupFileName(), beside.filename().string());
    EXPECT_FALSE(std::filesystem::exists(s.backupOf(2)));
}

TEST(BatchSession, AUnitWhoseBackupCannotBeWrittenIsNotFlashed) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(true);
    std::filesystem::remove(s.backups);
    store.startBatch();
    // Long enough for a flash that followed the failed backup to reconnect and finish.
    s.h.platform.advance(5.0);
    EXPECT_EQ(SimulatedBench::applicationOf(*s.bench->calculator), s.preloaded);
    EXPECT_FALSE(s.h.statusIndex("Writing firmware…"));
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    ASSERT_TRUE(store.lastError());
    EXPECT_TRUE(store.lastError()->starts_with("Could not write ")) << *store.lastError();
}

TEST(BatchSession, AUnitWhoseFirmwareFileChangedIsNotFlashed) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(false);
    s.folder.write("batch-firmware.bin", patternImage(6));
    store.startBatch();
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    EXPECT_EQ(store.lastError(),
              "The firmware file changed since it was checked. Choose it again.");
    EXPECT_EQ(SimulatedBench::applicationOf(*s.bench->calculator), s.preloaded);
}

TEST(BatchSession, AnAbandonedUnitNeverFlashesAfterItsReconnectionPause) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(false);
    s.startAndHoldTheUnit();
    ASSERT_EQ(store.batchPhase(), BatchPhase::flashing);
    s.bench->silenceOpenConnections();
    s.h.platform.background->releaseHeld();
    s.h.platform.settle();
    ASSERT_EQ(store.status(), "Reconnecting to SAM-BA…");

    store.returnToWelcome();
    s.h.begin(FlasherMode::flash);
    s.h.platform.advance(3.0);
    EXPECT_EQ(SimulatedBench::applicationOf(*s.bench->calculator), s.preloaded);
    EXPECT_FALSE(store.successMessage());
    EXPECT_FALSE(store.client());
    EXPECT_EQ(store.status(), "Waiting for programming cable…");
    EXPECT_EQ(s.bench->opens, s.bench->closes);
}

TEST(BatchSession, ResultsOfAnAbandonedUnitNeverReachTheNextSession) {
    for (const bool fails : {false, true}) {
        BatchSession s;
        auto& store = *s.h.store;
        s.begin(false);
        s.startAndHoldTheUnit();
        s.bench->blockReadsUntilTamper = fails ? 1 : 0;
        // The unit's flash ends on the device; its results are still on their way.
        s.h.platform.background->releaseHeld();
        s.h.platform.background->waitIdle();
        store.returnToWelcome();
        s.h.begin(FlasherMode::flash);
        EXPECT_FALSE(store.successMessage()) << fails;
        EXPECT_FALSE(store.lastError()) << fails;
        EXPECT_FALSE(store.progress()) << fails;
        EXPECT_FALSE(store.flashPageHeader()) << fails;
        EXPECT_FALSE(store.wizard().isBusy) << fails;
        EXPECT_EQ(store.status(), "Waiting for programming cable…") << fails;
    }
}

TEST(BatchSession, AnUnsupportedChipStopsTheBatchWithoutAUnit) {
    BatchSession s;
    auto& store = *s.h.store;
    s.bench->makeUnsupported();
    s.begin(true);
    store.startBatch();
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    EXPECT_EQ(store.status(), "Unsupported chip: ATSAM4LC8C");
    EXPECT_TRUE(store.lastError()->starts_with("Unsupported chip ATSAM4LC8C (CIDR=0xAB0B0AE0"));
    EXPECT_FALSE(store.hasBatchUnitTask());
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_TRUE(store.client()); // kept: later passes only ping it
    s.h.platform.advance(2.0);
    EXPECT_EQ(s.bench->opens, 1);
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    EXPECT_TRUE(std::filesystem::is_empty(s.backups));
}

TEST(BatchSession, ReturningToTheWelcomeScreenCancelsTheUnit) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(true);
    s.startAndHoldTheUnit();
    ASSERT_EQ(store.batchPhase(), BatchPhase::backingUp);

    store.returnToWelcome();
    EXPECT_TRUE(store.showWelcome());
    EXPECT_EQ(store.batchPhase(), BatchPhase::setup);
    EXPECT_FALSE(store.hasBatchUnitTask());
    EXPECT_FALSE(store.wizard().isBusy);

    // The unit's device work still ends, but changes nothing of the batch.
    s.h.platform.background->releaseHeld();
    s.h.platform.advance(5.0);
    EXPECT_EQ(store.batchPhase(), BatchPhase::setup);
    EXPECT_EQ(store.batchUnitNumber(), 0);
    EXPECT_FALSE(store.hasBatchUnitTask());
    EXPECT_TRUE(store.showWelcome());
}

TEST(BatchSession, AUnitWhoseFirmwareWasClearedDuringItsBackupEndsInError) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(true);
    s.startAndHoldTheUnit();
    ASSERT_EQ(store.batchPhase(), BatchPhase::backingUp);

    store.applyFirmware(s.folder.write("empty.bin", {}));
    ASSERT_FALSE(store.firmwareURL());
    s.h.platform.background->releaseHeld();
    s.h.platform.settle();
    EXPECT_EQ(store.batchPhase(), BatchPhase::error);
    EXPECT_EQ(store.lastError(),
              "No firmware is chosen. Choose the firmware file, then retry this unit.");
    EXPECT_FALSE(store.hasBatchUnitTask());
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_TRUE(std::filesystem::exists(s.backupOf(1))); // the backup itself was saved
}

TEST(BatchSession, StopBatchQuitsEvenWhileFlashing) {
    BatchSession s;
    auto& store = *s.h.store;
    s.begin(false); // no backups: the unit's first job is its flash
    s.startAndHoldTheUnit();
    ASSERT_EQ(store.batchPhase(), BatchPhase::flashing);

    store.stopBatch();
    EXPECT_EQ(s.h.platform.app->quitCount, 1);
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_FALSE(store.progress());
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.hasBatchUnitTask());
    s.h.platform.background->releaseHeld();
    s.h.platform.advance(3.0);
    EXPECT_EQ(store.batchPhase(), BatchPhase::flashing); // the cancelled unit reports nothing
}

TEST(BatchSession, TheStoredFirmwarePathIsRestoredOrForgotten) {
    {
        BatchSession s;
        s.h.platform.settings->setString("batchFirmwarePath", s.firmwarePath.string());
        s.h.begin(FlasherMode::batch);
        EXPECT_TRUE(s.h.store->wizard().firmwareOK);
        EXPECT_EQ(s.h.store->firmwareURL(), s.firmwarePath);
        EXPECT_EQ(s.h.platform.settings->string("batchFirmwarePath"), s.firmwarePath.string());
    }
    {
        BatchSession s;
        s.h.platform.settings->setString("batchFirmwarePath", (s.folder / "gone.bin").string());
        s.h.begin(FlasherMode::batch);
        EXPECT_FALSE(s.h.store->wizard().firmwareOK);
        EXPECT_FALSE(s.h.platform.settings->contains("batchFirmwarePath"));
    }
    {
        BatchSession s;
        const auto wrongSize = s.folder.write("small.bin", Bytes(100, 1));
        s.h.platform.settings->setString("batchFirmwarePath", wrongSize.string());
        s.h.begin(FlasherMode::batch);
        EXPECT_FALSE(s.h.store->wizard().firmwareOK);
        EXPECT_EQ(s.h.store->lastError(),
                  "Firmware is 100 bytes; expected 114688 bytes (0x1c000).");
        EXPECT_FALSE(s.h.platform.settings->contains("batchFirmwarePath"));
    }
}
