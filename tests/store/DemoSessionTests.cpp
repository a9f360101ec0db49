#include "StoreHarness.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

struct Snapshot {
    std::string status;
    std::optional<std::string> caption;
    std::optional<double> progress;
    int barID;
    bool isVerify;
};

// The progress values in the order they were shown, one entry per change, from the moment the
// status first read `from`.
std::vector<std::optional<double>> progressChanges(const std::vector<Snapshot>& trace,
                                                   const std::string& from) {
    std::vector<std::optional<double>> values;
    auto snapshot = std::find_if(trace.begin(), trace.end(),
                                 [&](const Snapshot& s) { return s.status == from; });
    for (; snapshot != trace.end(); ++snapshot) {
        if (values.empty() || values.back() != snapshot->progress) {
            values.push_back(snapshot->progress);
        }
    }
    return values;
}

void expectProgress(const std::vector<std::optional<double>>& actual,
                    const std::vector<std::optional<double>>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        ASSERT_EQ(actual[index].has_value(), expected[index].has_value()) << "at " << index;
        if (expected[index]) {
            EXPECT_NEAR(*actual[index], *expected[index], 1e-12) << "at " << index;
        }
    }
}

Bytes preloadedImage() {
    Bytes image(0x1C000, 0x00);
    image[0] = 0x90;
    image[1] = 0x90;
    return image;
}

} // namespace

TEST(DemoSession, RunsTheWholeWizardInVirtualTime) {
    const auto realStart = std::chrono::steady_clock::now();
    TempDir folder;
    const Bytes firmware = patternImage(7);
    const auto firmwarePath = folder.write("voyager.rom", firmware);

    StoreHarness h;
    auto& store = *h.store;
    store.start();
    h.platform.settle();
    EXPECT_EQ(store.selectedMode(), FlasherMode::demo);
    EXPECT_TRUE(store.simulatorHotKeyMonitor());

    // Welcome → DEMO.
    h.begin(FlasherMode::demo);
    EXPECT_FALSE(store.showWelcome());
    EXPECT_TRUE(store.usingSimulator());
    EXPECT_EQ(store.status(), "DEMO: connecting simulated calculator…");
    EXPECT_EQ(h.platform.settings->string("flasherMode"), "demo");
    EXPECT_FALSE(store.client()); // nothing is probed at the cable step

    // Cable → programming mode: "Cable detected…" first, connected at least 3 s later.
    h.platform.advance(0.4);
    const double enteredAt = h.platform.queue->elapsed();
    store.advance();
    h.platform.settle();
    EXPECT_EQ(store.wizard().step, WizardStep::programmingMode);
    EXPECT_EQ(store.status(), "Cable detected. Hold ERASE, press RESET, then release ERASE.");
    h.platform.advance(2.9);
    EXPECT_FALSE(store.client());
    h.platform.advance(1.2);
    ASSERT_TRUE(store.client());
    const auto connected = h.statusIndex("Connected: ATSAM4LC2C");
    ASSERT_TRUE(connected);
    const auto detected =
        h.statusIndex("Cable detected. Hold ERASE, press RESET, then release ERASE.");
    ASSERT_TRUE(detected);
    EXPECT_LT(*detected, *connected);
    EXPECT_GE(h.statusTimes[*connected] - enteredAt, 3.0);
    EXPECT_LE(h.statusTimes[*connected] - enteredAt, 4.0);
    EXPECT_FALSE(h.statusIndex("Waiting for SAM-BA…")); // the simulator has no such wait
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodemDEMO");
    EXPECT_TRUE(store.wizard().identitySupported);
    EXPECT_EQ(store.completionDetail(WizardStep::cable), "Pogo cable seated");

    // Backup step: the firmware is read once and judged.
    std::vector<Snapshot> trace;
    h.observe = [&] {
        trace.push_back({store.status(), store.progressCaption(), store.progress(),
                         store.progressBarID(), store.progressIsVerify()});
    };
    store.advance();
    EXPECT_TRUE(store.wizard().isBusy);
    EXPECT_EQ(store.status(), "Reading firmware…");
    EXPECT_EQ(store.progressCaption(), "Checking current firmware");
    h.platform.settle();
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_EQ(store.successMessage(), "Firmware checked.");
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    ASSERT_TRUE(store.currentFirmware());
    EXPECT_EQ(*store.currentFirmware(), preloadedImage());
    ASSERT_TRUE(store.backupAssessment());
    EXPECT_EQ(store.backupAssessment()->displayed(), 0x9090);
    std::vector<std::optional<double>> readProgress{0.0};
    for (int block = 1; block <= 28; ++block) {
        readProgress.push_back(block * 4096.0 / 114688.0);
    }
    expectProgress(progressChanges(trace, "Reading firmware…"), readProgress);
    EXPECT_EQ(store.completionDetail(WizardStep::programmingMode),
              "Connected ATSAM4LC2C · /dev/cu.usbmodemDEMO");

    // Save the backup through the dialog; the loop pauses while it is open.
    bool panelWasOpen = false;
    h.platform.dialogs->whileOpen = [&] { panelWasOpen = store.isPanelOpen(); };
    h.platform.dialogs->saveAnswers.push_back(folder / "backup.bin");
    store.backup();
    EXPECT_TRUE(panelWasOpen);
    EXPECT_FALSE(store.isPanelOpen());
    ASSERT_EQ(h.platform.dialogs->requests.size(), 1u);
    EXPECT_EQ(h.platform.dialogs->requests[0].title, "Save current firmware");
    EXPECT_EQ(h.platform.dialogs->requests[0].detail,
              store.backupAssessment()->defaultBackupFileName(h.platform.wallTime));
    EXPECT_TRUE(h.platform.dialogs->requests[0].detail.ends_with("-9090h-20260105.bin"));
    EXPECT_EQ(readWholeFile(folder / "backup.bin"), preloadedImage());
    EXPECT_EQ(store.successMessage(), "Backup saved.");
    EXPECT_EQ(store.backupFileName(), "backup.bin");
    EXPECT_TRUE(store.wizard().backupResolved);

    // Firmware step.
    store.advance();
    h.platform.dialogs->openAnswers.push_back(firmwarePath);
    store.chooseFirmware();
    EXPECT_EQ(h.platform.dialogs->requests.back().title, "Choose firmware");
    EXPECT_TRUE(store.wizard().firmwareOK);
    EXPECT_EQ(store.firmwareDetail(), "voyager.rom — 114688 bytes, write at 0x04000, checksum " +
                                          VoyagerFirmwareChecksum::formattedOf(firmware));
    EXPECT_EQ(store.expectedChecksumLabel(), VoyagerFirmwareChecksum::testMenuDisplayOf(firmware));
    store.advance();
    EXPECT_EQ(store.wizard().step, WizardStep::flash);
    EXPECT_TRUE(store.canFlash());

    // Flash: the exact sequence of status, caption, progress and bar identity.
    trace.clear();
    store.setConfirmFlash(true);
    store.flash();
    EXPECT_FALSE(store.confirmFlash());
    EXPECT_FALSE(store.canFlash());
    h.platform.settle();
    EXPECT_TRUE(store.wizard().flashSucceeded);
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_EQ(store.successMessage(), "Flashed and verified.");
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_EQ(store.progress(), 1.0);
    EXPECT_EQ(store.progressCaption(), "Verifying");
    EXPECT_TRUE(store.progressIsVerify());
    EXPECT_EQ(store.progressBarID(), 1);
    EXPECT_EQ(store.flashPageHeader(), "Page 224 of 224 · 0x1FE00");
    EXPECT_EQ(store.flashPageLines().size(), 16u);

    std::vector<std::optional<double>> flashProgress{0.0};
    for (int page = 1; page <= 224; ++page) {
        flashProgress.push_back(page / 224.0);
    }
    flashProgress.push_back(std::nullopt);
    for (int block = 0; block <= 28; ++block) {
        flashProgress.push_back(block * 4096.0 / 114688.0);
    }
    expectProgress(progressChanges(trace, "Writing firmware…"), flashProgress);
    std::vector<std::string> flashStatuses{"Connected: ATSAM4LC2C"};
    for (const Snapshot& snapshot : trace) {
        if (flashStatuses.empty() || flashStatuses.back() != snapshot.status) {
            flashStatuses.push_back(snapshot.status);
        }
    }
    EXPECT_EQ(flashStatuses,
              (std::vector<std::string>{"Connected: ATSAM4LC2C", "Writing firmware…",
                                        "Verifying firmware…", "Connected: ATSAM4LC2C"}));
    for (const Snapshot& snapshot : trace) {
        if (snapshot.barID == 0 && snapshot.status == "Writing firmware…") {
            EXPECT_FALSE(snapshot.isVerify);
            EXPECT_EQ(snapshot.caption, "Flashing");
        }
    }
    // The new bar starts empty and before its caption changes.
    const auto newBar =
        std::find_if(trace.begin(), trace.end(), [](const Snapshot& s) { return s.barID == 1; });
    ASSERT_NE(newBar, trace.end());
    EXPECT_FALSE(newBar->progress);
    EXPECT_EQ(newBar->caption, "Flashing");
    EXPECT_EQ(trace.back().caption, "Verifying");

    // The simulator now holds the firmware.
    const auto& memory = store.simulator()->memory();
    Bytes flashed(0x1C000);
    for (std::uint32_t offset = 0; offset < flashed.size(); ++offset) {
        flashed[offset] = memory.at(0x4000 + offset);
    }
    EXPECT_EQ(flashed, firmware);

    // Restart, checksum: the demo is marked completed once.
    store.advance();
    store.advance();
    EXPECT_EQ(store.wizard().step, WizardStep::checksum);
    EXPECT_TRUE(store.hasCompletedDemo());
    EXPECT_EQ(h.platform.settings->boolean("demoModeCompleted"), true);
    store.markDemoCompleted();
    EXPECT_EQ(h.platform.settings->writeCount("demoModeCompleted"), 1);
    EXPECT_EQ(store.completionDetail(WizardStep::flash), "Flashed and verified at 0x04000");

    EXPECT_EQ(h.offMainNotifications, 0);
    // The 3-second connection delay alone would exceed either bound in real time.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr auto realBound = std::chrono::milliseconds(2900);
#else
    constexpr auto realBound = std::chrono::seconds(1);
#endif
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, realBound);
}
