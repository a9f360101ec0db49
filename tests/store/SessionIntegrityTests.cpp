// Work a user abandoned never writes, never lands in the next session, and no failure vanishes.

#include "StoreHarness.h"

#include "device/FlasherError.h"
#include "util/FileIO.h"

using namespace pelwick;
using namespace pelwick::testing;

namespace {

// The unit's reconnection pause, backup or flash ends after the user left for a FLASH session;
// nothing follows it, and neither its results nor its failure reach the new session.
TEST(SessionIntegrity, AnAbandonedUnitNeitherWritesNorLandsInTheNextSession) {
    enum Case { pausing, backingUp, flashing, failing };
    for (const Case c : {pausing, backingUp, flashing, failing}) {
        StoreHarness h;
        batchUnitHeld(h, c == backingUp);
        const Bytes before = h.bench->application();
        if (c == pausing) {
            h.bench->silenceOpenConnections();
        }
        h.bench->blockReadsUntilTamper = c == failing ? 1 : 0;
        h.platform.background->releaseHeld();
        if (c == pausing) {
            h.platform.settle(); // the unit pauses before it reconnects
        } else {
            h.platform.background->waitIdle(); // its answers are on their way
        }
        h.store->returnToWelcome();
        h.begin(FlasherMode::flash);
        h.platform.advance(5.0);
        const FlasherStore& store = *h.store;
        EXPECT_EQ(store.wizard().step, WizardStep::cable) << c;
        EXPECT_EQ(shown(store), std::vector<std::string>(5, "")) << c;
        EXPECT_FALSE(store.client()) << c;
        EXPECT_EQ(h.bench->opens, h.bench->closes) << c;
        if (c == pausing || c == backingUp) {
            EXPECT_EQ(h.bench->application(), before) << c;
        }
    }
}

// The shortcut switches the device in DEMO and FLASH but waits while a flash reconnects (that
// work belongs to the device it started on), and batch and probe sessions swallow it.
TEST(SessionIntegrity, TheShortcutSwitchesOnlyWhenIdleAndDemoHoldsNoRealPort) {
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

    for (const bool simulator : {true, false}) {
        EXPECT_TRUE(h.store->handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(h.store->usingSimulator(), simulator);
        EXPECT_EQ(h.store->simulator() != nullptr, simulator);
        EXPECT_EQ(h.platform.settings->string("flasherMode"), simulator ? "demo" : "flash");
        EXPECT_EQ(h.bench->opens, h.bench->closes);
    }
    for (FlasherMode mode : {FlasherMode::batch, FlasherMode::probe}) {
        h.store->returnToWelcome();
        h.begin(mode);
        const int notifications = h.notifications;
        EXPECT_TRUE(h.store->handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(h.notifications, notifications);
    }
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
// mismatch reconnects with a fresh connection. A failed unit is retried under its number.
TEST(SessionIntegrity, AFailureStaysVisibleUntilTheUserActs) {
    StoreHarness h;
    h.store->start();
    h.reachFlashStep(h.folder.write("firmware.bin", patternImage(3)));
    h.bench->blockReadsUntilTamper = 1; // the first block read of the verify pass
    h.store->flash();
    h.platform.settle();
    const auto error = FlasherError::verifyMismatch().errorDescription();
    EXPECT_EQ(shown(*h.store), (std::vector<std::string>{"", error, "", "", ""}));
    EXPECT_FALSE(h.store->wizard().flashSucceeded);
    EXPECT_EQ(h.bench->opens, h.bench->closes); // the connection is dropped
    h.platform.advance(3.0);
    EXPECT_TRUE(h.store->canFlash()); // reconnected: a flash may be tried again
    EXPECT_EQ(h.store->lastError(), error);

    StoreHarness batch;
    batchUnitHeld(batch, false);
    batch.bench->blockReadsUntilTamper = 1;
    batch.platform.background->releaseHeld();
    batch.platform.advance(3.0);
    EXPECT_EQ(batch.store->batchPhase(), BatchPhase::error);
    EXPECT_TRUE(batch.store->client()); // reconnected, yet nothing starts until the retry
    EXPECT_EQ(batch.store->lastError(), error);
    batch.store->retryBatchUnit(); // the same unit again
    batch.platform.advance(1.0);
    EXPECT_EQ(batch.store->batchPhase(), BatchPhase::unitDone);
    EXPECT_EQ(batch.store->batchUnitNumber(), 1);
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
