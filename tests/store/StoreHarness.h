#pragma once

#include "store/FlasherStore.h"
#include "support/TempDir.h"
#include "support/store/FakePlatform.h"
#include "support/store/SimulatedBench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelwick::testing {

/// A store on the fake platform whose real cable is a simulated bench, with its change
/// notifications counted (and checked to come on the main thread) and the last status published
/// to the window recorded.
struct StoreHarness {
    StoreHarness() {
        // File-name dates are local time; the tests fix the zone.
        setenv("TZ", "UTC", 1);
        tzset();
        store = FlasherStore::create(
            platform.storePlatform([bench = bench] { return bench->flasher(); }));
        store->setOnChange([this] {
            ++notifications;
            EXPECT_TRUE(platform.queue->isMainThread());
            published = store->status();
            if (observe) {
                observe();
            }
        });
    }

    ~StoreHarness() {
        // The test's observer may point at locals that are already gone.
        observe = nullptr;
        store->stop();
        platform.settle();
        store.reset();
        platform.background->waitIdle();
    }

    /// Chooses `mode` on the welcome screen and begins it.
    void begin(FlasherMode mode) {
        store->setSelectedMode(mode);
        store->beginChosenSession();
        platform.settle();
    }

    /// Continues and lets the work that starts finish.
    void advanceStep() {
        store->advance();
        platform.settle();
    }

    /// Runs a monitoring pass now and lets it finish.
    void pass() {
        store->refreshConnection();
        platform.settle();
    }

    /// Begins `mode` and continues to the programming-mode step, letting its pass finish.
    void toProgrammingMode(FlasherMode mode = FlasherMode::flash) {
        begin(mode);
        advanceStep();
    }

    /// A FLASH session at the backup step: connected and firmware read.
    void reachBackupStep() {
        toProgrammingMode();
        advanceStep();
    }

    /// A FLASH session at the flash step: backup skipped, `firmware` chosen.
    void reachFlashStep(const std::filesystem::path& firmware) {
        reachBackupStep();
        store->skipBackup();
        store->advance();
        store->applyFirmware(firmware);
        store->advance();
        ASSERT_TRUE(store->canFlash()) << store->lastError().value_or("");
    }

    std::shared_ptr<SimulatedBench> bench = std::make_shared<SimulatedBench>();
    FakePlatform platform;
    std::shared_ptr<FlasherStore> store;
    TempDir folder;
    int notifications = 0;
    std::string published;
    std::function<void()> observe;
};

/// What the session shows: success, error, progress, page preview and busy, empty when none.
inline std::vector<std::string> shown(const FlasherStore& s) {
    return {s.successMessage().value_or(""), s.lastError().value_or(""),
            s.progress() ? std::to_string(*s.progress()) : "", s.flashPageHeader().value_or(""),
            s.wizard().isBusy ? "busy" : ""};
}

/// A batch of `firmware.bin` (backups into `folder / "backups"` when `autoSave`), started.
inline void startBatch(StoreHarness& h, bool autoSave) {
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
}

/// A started batch whose pass has connected, with the unit's first device job held.
inline void batchUnitHeld(StoreHarness& h, bool autoSave) {
    startBatch(h, autoSave);
    h.platform.background->holdNextJobs(2);
    h.platform.advance(1.0);
    ASSERT_TRUE(h.platform.background->releaseHeld());
    h.platform.settle();
    ASSERT_EQ(h.platform.background->heldCount(), 1u);
}

} // namespace pelwick::testing
