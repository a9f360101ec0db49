#include "StoreHarness.h"

#include "device/FlasherError.h"

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* samBaHint =
    "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";
constexpr const char* cableHint = "Cable detected. Hold ERASE, press RESET, then release ERASE.";

void flashWithFirmware(StoreHarness& h) {
    h.reachFlashStep(h.folder.write("firmware.bin", patternImage(3)));
}

void batchWithFirmware(StoreHarness& h) {
    h.store->start();
    h.begin(FlasherMode::batch);
    h.store->applyFirmware(h.folder.write("firmware.bin", patternImage(3)));
    h.store->startBatch();
}

// The one table of what the store says: the status, success and error texts each situation
// publishes. Elsewhere the store's tests compare states and error values.
TEST(StoreTexts, EachSituationPublishesItsTexts) {
    struct Row {
        const char* situation;
        std::function<void(StoreHarness&)> reach;
        std::string status;
        std::optional<std::string> success = std::nullopt;
        std::optional<std::string> error = std::nullopt;
    };
    const std::vector<Row> rows{
        {"FLASH begun", [](StoreHarness& h) { h.begin(FlasherMode::flash); },
         "Waiting for programming cable…"},
        {"DEMO begun", [](StoreHarness& h) { h.begin(FlasherMode::demo); },
         "DEMO: connecting simulated calculator…"},
        {"DEMO looking for the calculator",
         [](StoreHarness& h) {
             h.begin(FlasherMode::demo);
             h.advanceStep();
         },
         cableHint},
        {"connected",
         [](StoreHarness& h) {
             h.begin(FlasherMode::flash);
             h.advanceStep();
         },
         "Connected: ATSAM4LC2C"},
        {"connect under way",
         [](StoreHarness& h) {
             h.begin(FlasherMode::flash);
             h.platform.background->holdNextJobs(1);
             h.advanceStep();
         },
         "Waiting for SAM-BA…"},
        {"connect past its watchdog",
         [](StoreHarness& h) {
             h.begin(FlasherMode::flash);
             h.platform.background->holdNextJobs(1);
             h.advanceStep();
             h.platform.advance(2.6);
         },
         samBaHint},
        {"a cable without the monitor",
         [](StoreHarness& h) {
             h.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
             h.begin(FlasherMode::flash);
             h.advanceStep();
         },
         cableHint},
        {"unsupported chip",
         [](StoreHarness& h) {
             h.bench->makeUnsupported();
             h.begin(FlasherMode::flash);
             h.advanceStep();
         },
         "Unsupported chip: ATSAM4LC8C", std::nullopt,
         FlasherError::unsupportedDevice("ATSAM4LC8C", 0xAB0B0AE0, 0x1400000F).errorDescription()},
        {"firmware read",
         [](StoreHarness& h) {
             h.begin(FlasherMode::flash);
             h.advanceStep();
             h.advanceStep();
         },
         "Connected: ATSAM4LC2C", "Firmware checked."},
        {"backup saved",
         [](StoreHarness& h) {
             h.begin(FlasherMode::flash);
             h.advanceStep();
             h.advanceStep();
             h.platform.dialogs->saveAnswers.push_back(h.folder / "backup.bin");
             h.store->backup();
         },
         "Connected: ATSAM4LC2C", "Backup saved."},
        {"flashed",
         [](StoreHarness& h) {
             flashWithFirmware(h);
             h.store->flash();
             h.platform.settle();
         },
         "Connected: ATSAM4LC2C", "Flashed and verified."},
        {"reconnecting before a flash",
         [](StoreHarness& h) {
             flashWithFirmware(h);
             h.bench->silenceOpenConnections();
             h.store->flash();
             h.platform.settle();
         },
         "Reconnecting to SAM-BA…"},
        {"reconnect timed out",
         [](StoreHarness& h) {
             flashWithFirmware(h);
             h.bench->allSilent = true;
             h.store->flash();
             h.platform.advance(2.0);
         },
         "Operation failed.", std::nullopt,
         "Timed out reconnecting to SAM-BA. Leave the cable plugged in. If Status is not "
         "Connected, hold ERASE, press RESET, then release ERASE."},
        {"verify mismatch",
         [](StoreHarness& h) {
             flashWithFirmware(h);
             h.bench->blockReadsUntilTamper = 1;
             h.store->flash();
             h.platform.settle();
         },
         "Operation failed.", std::nullopt, FlasherError::verifyMismatch().errorDescription()},
        {"firmware file changed",
         [](StoreHarness& h) {
             flashWithFirmware(h);
             h.folder.write("firmware.bin", patternImage(4));
             h.store->flash();
             h.platform.settle();
         },
         "Operation failed.", std::nullopt,
         "The firmware file changed since it was checked. Choose it again."},
        {"probe without a cable",
         [](StoreHarness& h) {
             h.bench->listing->set({});
             h.store->start();
             h.begin(FlasherMode::probe);
             h.platform.advance(1.0);
         },
         "No programming cable detected"},
        // A monitor that does not answer is never reported as no cable.
        {"probe of a silent monitor",
         [](StoreHarness& h) {
             h.bench->allSilent = true;
             h.store->start();
             h.begin(FlasherMode::probe);
             h.platform.advance(1.0);
         },
         samBaHint},
        {"batch waiting", [](StoreHarness& h) { batchWithFirmware(h); }, samBaHint},
        {"batch unit done",
         [](StoreHarness& h) {
             batchWithFirmware(h);
             h.platform.advance(1.0);
         },
         "Unit 1 complete.", "Unit 1 flashed and verified."},
        {"batch unit without firmware",
         [](StoreHarness& h) {
             h.store->start();
             h.begin(FlasherMode::batch);
             h.store->applyFirmware(h.folder.write("firmware.bin", patternImage(3)));
             h.store->setBatchBackupChoice(BatchBackupChoice::autoSave);
             h.platform.dialogs->folderAnswers.push_back(h.folder.path());
             h.store->chooseBatchBackupFolder();
             h.store->startBatch();
             h.platform.background->holdNextJobs(2);
             h.platform.advance(1.0);
             h.platform.background->releaseHeld(); // connected; the backup is held
             h.platform.settle();
             h.store->applyFirmware(h.folder.write("empty.bin", {}));
             h.platform.background->releaseHeld();
             h.platform.settle();
         },
         "Connected: ATSAM4LC2C", std::nullopt,
         "No firmware is chosen. Choose the firmware file, then retry this unit."},
    };
    for (const Row& row : rows) {
        StoreHarness h;
        row.reach(h);
        const FlasherStore& store = *h.store;
        EXPECT_EQ(store.status(), row.status) << row.situation;
        // Published to the window, not only set.
        EXPECT_EQ(h.statuses.empty() ? "" : h.statuses.back(), row.status) << row.situation;
        if (row.success) {
            EXPECT_EQ(store.successMessage(), row.success) << row.situation;
        }
        if (row.error) {
            EXPECT_EQ(store.lastError(), row.error) << row.situation;
        }
    }
}

} // namespace
