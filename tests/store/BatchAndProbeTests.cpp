#include "StoreHarness.h"

#include "util/FileIO.h"

using namespace pelwick;
using namespace pelwick::testing;

namespace {

TEST(BatchSession, UnitsAreBackedUpAndFlashedUnderTheirNumbers) {
    StoreHarness h;
    auto& store = *h.store;
    const Bytes preloaded = h.bench->application();
    const auto backups = h.folder / "backups";
    // A file under unit 1's name (another Pelwick, or a retried unit's first backup) is kept.
    std::filesystem::create_directory(backups);
    const Bytes earlier(16, 0x5A);
    h.folder.write("backups/hp15c-20260105-143209-001.bin", earlier);
    std::vector<BatchPhase> phases;
    h.observe = [&] {
        if (phases.empty() || phases.back() != store.batchPhase()) {
            phases.push_back(store.batchPhase());
        }
    };
    startBatch(h, true);
    EXPECT_EQ(h.platform.settings->string("batchFirmwarePath"),
              (h.folder / "firmware.bin").string());
    h.platform.advance(1.0);
    EXPECT_EQ(phases, (std::vector<BatchPhase>{BatchPhase::setup, BatchPhase::waiting,
                                               BatchPhase::backingUp, BatchPhase::flashing,
                                               BatchPhase::unitDone}));
    EXPECT_FALSE(store.client());
    EXPECT_EQ(readWholeFile(backups / "hp15c-20260105-143209-001.bin"), earlier);
    EXPECT_EQ(readWholeFile(backups / "hp15c-20260105-143209-001-2.bin"), preloaded);
    EXPECT_EQ(store.backupFileName(), "hp15c-20260105-143209-001-2.bin");
    // The calculator left attached is not touched again until the next unit.
    const int opens = h.bench->opens;
    h.platform.advance(3.0);
    EXPECT_EQ(h.bench->opens, opens);

    store.prepareNextBatchUnit();
    h.platform.advance(1.0);
    EXPECT_EQ(store.batchUnitNumber(), 2);
    EXPECT_EQ(store.batchPhase(), BatchPhase::unitDone);
    // The same calculator, flashed as unit 1.
    EXPECT_EQ(readWholeFile(backups / "hp15c-20260105-143209-002.bin"), patternImage(5));
}

TEST(BatchSession, StopBatchQuitsEvenWhileFlashingAndTheUnitReportsNothing) {
    StoreHarness h;
    batchUnitHeld(h, false);
    ASSERT_EQ(h.store->batchPhase(), BatchPhase::flashing);
    h.store->stopBatch();
    EXPECT_EQ(h.platform.app->quitCount, 1);
    EXPECT_FALSE(h.store->client());
    h.platform.background->releaseHeld();
    h.platform.advance(3.0);
    EXPECT_EQ(h.store->batchPhase(), BatchPhase::flashing);
    EXPECT_EQ(shown(*h.store), std::vector<std::string>(5, "")); // nothing reported, not busy
}

TEST(BatchSession, TheStoredFirmwarePathIsRestoredOrForgotten) {
    for (const int file : {0, 1, 2}) { // the file, a missing one, one of the wrong size
        StoreHarness h;
        const auto path = file == 0   ? h.folder.write("firmware.bin", patternImage(5))
                          : file == 1 ? h.folder / "gone.bin"
                                      : h.folder.write("small.bin", Bytes(100, 1));
        h.platform.settings->setString("batchFirmwarePath", path.string());
        h.begin(FlasherMode::batch);
        EXPECT_EQ(h.store->wizard().firmwareOK, file == 0) << file;
        EXPECT_EQ(h.platform.settings->string("batchFirmwarePath").has_value(), file == 0) << file;
    }
}

TEST(ProbeSession, ReportsEachChangeOnceAndKeepsNoConnection) {
    StoreHarness h;
    auto& store = *h.store;
    store.start();
    h.begin(FlasherMode::probe);
    h.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    h.platform.advance(1.0);
    EXPECT_FALSE(store.probePortName());
    EXPECT_EQ(h.bench->opens, 0);

    h.bench->listing->set({SerialPort{"/dev/cu.usbmodem14101"}});
    h.platform.advance(1.0);
    EXPECT_EQ(store.probePortName(), "cu.usbmodem14101");
    EXPECT_TRUE(store.identity());
    EXPECT_FALSE(store.wizard().identitySupported);

    // Every pass connects again and keeps no connection; nothing is announced again.
    const int notifications = h.notifications;
    h.platform.advance(3.0);
    EXPECT_EQ(h.bench->opens, 4);
    EXPECT_EQ(h.bench->opens, h.bench->closes);
    EXPECT_EQ(h.notifications, notifications);

    // An unsupported chip brings its error; the cable going away takes it.
    h.bench->makeUnsupported();
    h.platform.advance(1.0);
    EXPECT_TRUE(store.lastError());
    h.bench->listing->set({});
    h.platform.advance(1.0);
    EXPECT_FALSE(store.lastError());
    EXPECT_FALSE(store.identity());
}

} // namespace
