#include "StoreHarness.h"

#include "device/FlasherError.h"

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* samBaHint =
    "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";
constexpr const char* cableHint = "Cable detected. Hold ERASE, press RESET, then release ERASE.";
constexpr const char* connected = "Connected: ATSAM4LC2C";
constexpr const char* failed = "Operation failed.";

// The status shown and published to the window (not only set), and the success and error texts
// when given.
void expectTexts(const StoreHarness& h, const char* situation, const std::string& status,
                 const std::optional<std::string>& success = std::nullopt,
                 const std::optional<std::string>& error = std::nullopt) {
    EXPECT_EQ(h.store->status(), status) << situation;
    EXPECT_EQ(h.published, status) << situation;
    if (success) {
        EXPECT_EQ(h.store->successMessage(), success) << situation;
    }
    if (error) {
        EXPECT_EQ(h.store->lastError(), error) << situation;
    }
}

// The one table of what the store says, walked through the sessions: the status, success and
// error texts each situation publishes. Elsewhere the store's tests compare states and error
// values.
TEST(StoreTexts, EachSituationPublishesItsTexts) {
    StoreHarness h;
    h.begin(FlasherMode::flash);
    expectTexts(h, "FLASH begun", "Waiting for programming cable…");
    h.platform.background->holdNextJobs(1);
    h.advanceStep();
    expectTexts(h, "connect under way", "Waiting for SAM-BA…");
    h.platform.advance(2.6);
    expectTexts(h, "connect past its watchdog", samBaHint);
    h.platform.background->releaseHeld();
    h.pass();
    expectTexts(h, "connected", connected);
    h.advanceStep();
    expectTexts(h, "firmware read", connected, "Firmware checked.");
    h.platform.dialogs->saveAnswers.push_back(h.folder / "backup.bin");
    h.store->backup();
    expectTexts(h, "backup saved", connected, "Backup saved.");
    h.store->advance();
    h.store->applyFirmware(h.folder.write("firmware.bin", patternImage(3)));
    h.store->advance();
    h.store->flash();
    h.platform.settle();
    expectTexts(h, "flashed", connected, "Flashed and verified.");
    h.folder.write("firmware.bin", patternImage(4));
    h.store->flash();
    expectTexts(h, "firmware file changed", failed, std::nullopt,
                "The firmware file changed since it was checked. Choose it again.");
    h.store->applyFirmware(h.folder / "firmware.bin");
    h.bench->silenceOpenConnections();
    h.store->flash();
    h.platform.settle();
    expectTexts(h, "reconnecting before a flash", "Reconnecting to SAM-BA…");
    h.bench->allSilent = true;
    h.platform.advance(2.0);
    expectTexts(h, "reconnect timed out", failed, std::nullopt,
                "Timed out reconnecting to SAM-BA. Leave the cable plugged in. If Status is not "
                "Connected, hold ERASE, press RESET, then release ERASE.");

    StoreHarness demo;
    demo.begin(FlasherMode::demo);
    expectTexts(demo, "DEMO begun", "DEMO: connecting simulated calculator…");
    demo.advanceStep();
    expectTexts(demo, "DEMO looking for the calculator", cableHint);

    StoreHarness other;
    other.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    other.toProgrammingMode();
    expectTexts(other, "a cable without the monitor", cableHint);
    other.bench->makeUnsupported();
    other.bench->listing->set({SerialPort{"/dev/cu.usbmodem14101"}});
    other.pass();
    expectTexts(
        other, "unsupported chip", "Unsupported chip: ATSAM4LC8C", std::nullopt,
        FlasherError::unsupportedDevice("ATSAM4LC8C", 0xAB0B0AE0, 0x1400000F).errorDescription());

    StoreHarness probe;
    probe.bench->listing->set({});
    probe.store->start();
    probe.begin(FlasherMode::probe);
    probe.platform.advance(1.0);
    expectTexts(probe, "probe without a cable", "No programming cable detected");
    // A monitor that does not answer is never reported as no cable.
    probe.bench->allSilent = true;
    probe.bench->listing->set({SerialPort{"/dev/cu.usbmodem14101"}});
    probe.platform.advance(1.0);
    expectTexts(probe, "probe of a silent monitor", samBaHint);

    StoreHarness batch;
    startBatch(batch, false);
    expectTexts(batch, "batch waiting", samBaHint);
    batch.platform.advance(1.0);
    expectTexts(batch, "batch unit done", "Unit 1 complete.", "Unit 1 flashed and verified.");

    StoreHarness cleared;
    batchUnitHeld(cleared, true);
    cleared.store->applyFirmware(cleared.folder.write("empty.bin", {}));
    cleared.platform.background->releaseHeld();
    cleared.platform.settle();
    expectTexts(cleared, "batch unit without firmware", connected, std::nullopt,
                "No firmware is chosen. Choose the firmware file, then retry this unit.");
}

} // namespace
