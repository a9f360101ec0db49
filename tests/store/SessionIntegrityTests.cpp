// Work a user abandoned never writes, never lands in the next session, and no failure vanishes.

#include "StoreHarness.h"

#include "device/FlasherError.h"
#include "util/FileIO.h"

using namespace pelwick;
using namespace pelwick::testing;

namespace {

// A batch of `firmware` (backups into h.folder/backups when `autoSave`), started, with the
// pass connected and the unit's first device job held.
void batchUnitHeld(StoreHarness& h, bool autoSave) {
    h.store->start();
    h.begin(FlasherMode::batch);
    h.store->applyFirmware(h.folder.write("firmware.bin", patternImage(5)));
    if (autoSave) {
        std::filesystem::create_directory(h.folder / "backups");
        h.store->setBatchBackupChoice(BatchBackupChoice::autoSave);
        h.platform.dialogs->folderAnswers.push_back(h.folder / "backups");
        h.store->chooseBatchBackupFolder();
    }
    h.store->startBatch();
    h.platform.background->holdNextJobs(2);
    h.platform.advance(1.0);
    ASSERT_TRUE(h.platform.background->releaseHeld());
    h.platform.settle();
    ASSERT_EQ(h.platform.background->heldCount(), 1u);
}

// Shows nothing: the state of a FLASH session just begun.
void expectFreshSession(const StoreHarness& h, const char* what) {
    const FlasherStore& store = *h.store;
    EXPECT_FALSE(store.successMessage()) << what;
    EXPECT_FALSE(store.lastError()) << what;
    EXPECT_FALSE(store.progress()) << what;
    EXPECT_FALSE(store.flashPageHeader()) << what;
    EXPECT_FALSE(store.wizard().isBusy) << what;
    EXPECT_FALSE(store.client()) << what;
    EXPECT_EQ(h.bench->opens, h.bench->closes) << what;
}

TEST(SessionIntegrity, AnAbandonedUnitNeverFlashesAfterItsReconnectionPause) {
    StoreHarness h;
    batchUnitHeld(h, false);
    ASSERT_EQ(h.store->batchPhase(), BatchPhase::flashing);
    const Bytes before = h.bench->application();
    h.bench->silenceOpenConnections();
    h.platform.background->releaseHeld();
    h.platform.settle(); // the unit pauses before it reconnects

    h.store->returnToWelcome();
    h.begin(FlasherMode::flash);
    h.platform.advance(3.0);
    EXPECT_EQ(h.bench->application(), before);
    expectFreshSession(h, "after the pause");
}

// The unit's backup or flash ends on the device after the user left; its results, and any step
// that would follow, never reach the next session.
TEST(SessionIntegrity, ResultsOfAnAbandonedUnitNeverReachTheNextSession) {
    struct Case {
        bool backupHeld;
        bool verifyFails;
    };
    for (const Case c : {Case{false, false}, Case{false, true}, Case{true, false}}) {
        StoreHarness h;
        batchUnitHeld(h, c.backupHeld);
        const Bytes before = h.bench->application();
        h.bench->blockReadsUntilTamper = c.verifyFails ? 1 : 0;
        h.platform.background->releaseHeld();
        h.platform.background->waitIdle();
        h.store->returnToWelcome();
        h.begin(FlasherMode::flash);
        h.platform.advance(5.0);
        expectFreshSession(h, c.backupHeld ? "backup" : c.verifyFails ? "failed" : "flashed");
        EXPECT_EQ(h.store->wizard().step, WizardStep::cable);
        if (c.backupHeld) {
            EXPECT_EQ(h.bench->application(), before);
        }
    }
}

TEST(SessionIntegrity, TheSimulatorShortcutWaitsWhileAFlashReconnectsAndDemoHoldsNoRealPort) {
    StoreHarness h;
    h.store->start();
    h.reachFlashStep(h.folder.write("firmware.bin", patternImage(3)));
    h.bench->silenceOpenConnections();
    h.store->flash();
    h.platform.settle();
    ASSERT_TRUE(h.store->wizard().isBusy); // reconnecting

    h.store->handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_FALSE(h.store->usingSimulator());
    h.platform.advance(2.0);
    EXPECT_TRUE(h.store->wizard().flashSucceeded);
    EXPECT_EQ(h.bench->application(), patternImage(3));

    h.store->handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_TRUE(h.store->usingSimulator());
    EXPECT_FALSE(h.store->client());
    EXPECT_EQ(h.bench->opens, h.bench->closes);
}

TEST(SessionIntegrity, GoingBackToTheCableDropsTheAttemptInFlightAndTheCalculator) {
    StoreHarness h;
    h.begin(FlasherMode::flash);
    h.platform.background->holdNextJobs(1);
    h.advanceStep();
    h.store->goBack();
    ASSERT_EQ(h.store->wizard().step, WizardStep::cable);
    h.platform.background->releaseHeld();
    h.platform.settle();
    EXPECT_FALSE(h.store->client());
    EXPECT_FALSE(h.store->identity());
    EXPECT_FALSE(h.store->wizard().identitySupported);
    EXPECT_EQ(h.bench->opens, 1);
    EXPECT_EQ(h.bench->closes, 1);

    // Connected and read, then back to the cable: the calculator is forgotten.
    h.advanceStep();
    h.advanceStep();
    ASSERT_TRUE(h.store->currentFirmware());
    h.store->goBack();
    h.store->goBack();
    EXPECT_FALSE(h.store->client());
    EXPECT_FALSE(h.store->currentFirmware());
}

// A failure stays until the user acts, though the next pass reconnects; the pass after a verify
// mismatch reconnects with a fresh connection.
TEST(SessionIntegrity, AFailureStaysVisibleUntilTheUserActs) {
    {
        StoreHarness h;
        h.store->start();
        h.reachFlashStep(h.folder.write("firmware.bin", patternImage(3)));
        h.bench->blockReadsUntilTamper = 1; // the first block read of the verify pass
        h.store->flash();
        h.platform.settle();
        const auto error = h.store->lastError();
        ASSERT_EQ(error, FlasherError::verifyMismatch().errorDescription());
        EXPECT_FALSE(h.store->wizard().flashSucceeded);
        EXPECT_FALSE(h.store->client());
        EXPECT_FALSE(h.store->progress());
        EXPECT_EQ(h.bench->opens, h.bench->closes);
        h.platform.advance(3.0);
        EXPECT_TRUE(h.store->client());
        EXPECT_TRUE(h.store->canFlash());
        EXPECT_EQ(h.store->lastError(), error);
    }
    {
        StoreHarness h;
        batchUnitHeld(h, false);
        h.bench->blockReadsUntilTamper = 1;
        h.platform.background->releaseHeld();
        h.platform.advance(3.0);
        EXPECT_EQ(h.store->batchPhase(), BatchPhase::error);
        EXPECT_TRUE(h.store->client()); // reconnected, yet nothing starts until the retry
        EXPECT_EQ(h.store->lastError(), FlasherError::verifyMismatch().errorDescription());
    }
}

TEST(SessionIntegrity, ARetriedUnitKeepsItsFirstBackupAndSavesBeside) {
    StoreHarness h;
    const Bytes preloaded = h.bench->application();
    batchUnitHeld(h, true);
    // The unit's backup reads 28 blocks; the 29th block read is the first of the verify pass.
    h.bench->blockReadsUntilTamper = 29;
    h.platform.background->releaseHeld();
    h.platform.advance(0.5);
    ASSERT_EQ(h.store->batchPhase(), BatchPhase::error);

    h.store->retryBatchUnit();
    EXPECT_EQ(h.store->batchUnitNumber(), 1);
    EXPECT_FALSE(h.store->lastError());
    h.platform.advance(1.0);
    EXPECT_EQ(h.store->batchPhase(), BatchPhase::unitDone);
    const auto backups = h.folder / "backups";
    EXPECT_EQ(readWholeFile(backups / "hp15c-20260105-143209-001.bin"), preloaded);
    EXPECT_NE(readWholeFile(backups / "hp15c-20260105-143209-001-2.bin"), preloaded);
    EXPECT_EQ(h.store->backupFileName(), "hp15c-20260105-143209-001-2.bin");
}

TEST(SessionIntegrity, AUnitWhoseBackupCannotBeWrittenIsNotFlashed) {
    StoreHarness h;
    const Bytes preloaded = h.bench->application();
    batchUnitHeld(h, true);
    std::filesystem::remove(h.folder / "backups");
    h.platform.background->releaseHeld();
    // Long enough for a flash that followed the failed backup to reconnect and finish.
    h.platform.advance(5.0);
    EXPECT_EQ(h.bench->application(), preloaded);
    EXPECT_EQ(h.store->batchPhase(), BatchPhase::error);
    EXPECT_TRUE(h.store->lastError());
}

} // namespace
