#include "StoreHarness.h"

#include "device/FlasherError.h"
#include "store/ResumeOnce.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

// An application image whose displayed checksum is 0xVVVV: the trimmed image without its last
// byte sums to V.
Bytes imageWithChecksum(std::uint8_t value) {
    Bytes image(0x1C000, 0x00);
    image[0] = value;
    image[1] = 0x01;
    return image;
}

void loadIntoSimulator(FlasherStore& store, const Bytes& image) {
    auto& memory = store.simulator()->memory();
    for (std::uint32_t offset = 0; offset < image.size(); ++offset) {
        memory[0x4000 + offset] = image[offset];
    }
}

// A DEMO session connected at the programming-mode step.
void connectDemo(StoreHarness& h) {
    h.begin(FlasherMode::demo);
    h.store->advance();
    h.platform.settle();
    h.platform.advance(3.0);
    h.store->refreshConnection();
    h.platform.settle();
    ASSERT_TRUE(h.store->client());
}

} // namespace

TEST(StoreCore, SettingsFallBackToDemoAndNotCompleted) {
    {
        StoreHarness h;
        EXPECT_EQ(h.store->selectedMode(), FlasherMode::demo);
        EXPECT_FALSE(h.store->hasCompletedDemo());
        EXPECT_TRUE(h.store->showWelcome());
        EXPECT_EQ(h.store->status(), "Waiting for programming cable…");
        EXPECT_EQ(h.store->firmwareDetail(), "No firmware selected.");
        EXPECT_EQ(h.store->expectedChecksumShort(), "----h");
    }
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::string, FlasherMode>>{{"probe", FlasherMode::probe},
                                                          {"batch", FlasherMode::batch},
                                                          {"Probe", FlasherMode::demo},
                                                          {"", FlasherMode::demo}}) {
        FakePlatform platform;
        platform.settings->setString("flasherMode", stored);
        platform.settings->setBool("demoModeCompleted", true);
        auto store = FlasherStore::create(platform.storePlatform());
        EXPECT_EQ(store->selectedMode(), expected) << stored;
        EXPECT_TRUE(store->hasCompletedDemo());
    }
    FakePlatform platform;
    platform.settings->setBool("flasherMode", true); // not a text at all
    EXPECT_EQ(FlasherStore::create(platform.storePlatform())->selectedMode(), FlasherMode::demo);
}

// Fast transfer is a setting of its own, off on first start. A DEMO flash makes a cable's
// pauses unless it is on; a fast flash whose poll is answered late falls back, pauses from there
// on, succeeds and says that it fell back.
TEST(StoreCore, FastTransferIsRememberedLeavesOutThePausesAndShowsAFallback) {
    {
        FakePlatform platform;
        platform.settings->setBool("fastTransfer", true);
        EXPECT_TRUE(FlasherStore::create(platform.storePlatform())->fastTransfer());
    }
    TempDir folder;
    const auto firmware = folder.write("image.bin", imageWithChecksum(0x15));
    struct Case {
        bool fast;
        bool latePoll;
        bool pauses;
        bool fellBack;
    };
    for (const Case& c : {Case{false, false, true, false}, Case{true, false, false, false},
                          Case{true, true, true, true}}) {
        StoreHarness h;
        auto& store = *h.store;
        EXPECT_FALSE(store.fastTransfer());
        store.setFastTransfer(c.fast);
        EXPECT_EQ(h.platform.settings->boolean("fastTransfer"), c.fast);
        if (c.latePoll) {
            // The poll of page 100: after the applet's INIT and 14 unlocks.
            *h.platform.demoLineFault = [](FaultInjectingTransport& line) {
                line.injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040", 115),
                                Fault::replyLate);
            };
        }
        connectDemo(h);
        store.advance();
        h.platform.settle();
        store.skipBackup();
        store.advance();
        store.applyFirmware(firmware);
        store.advance();
        *h.platform.demoPauses = 0;
        store.flash();
        h.platform.settle();
        EXPECT_TRUE(store.wizard().flashSucceeded) << store.lastError().value_or("");
        EXPECT_EQ(*h.platform.demoPauses > 0, c.pauses) << c.fast << c.latePoll;
        EXPECT_EQ(store.flashFellBack(), c.fellBack) << c.fast << c.latePoll;
    }
}

TEST(StoreCore, ProgressFollowsTheFlashPhases) {
    StoreHarness h;
    auto& store = *h.store;
    store.beginBusy("Writing firmware…", std::string("Flashing"));
    store.applyFlashProgress(1.3, FlashProgressPhase::writing);
    EXPECT_EQ(store.progress(), 1.0);
    store.applyFlashProgress(0.5, FlashProgressPhase::reading);
    EXPECT_EQ(store.progress(), 1.0);
    store.applyFlashProgress(0.1, FlashProgressPhase::verifying);
    store.applyFlashProgress(0.2, FlashProgressPhase::verifying);
    EXPECT_EQ(store.progressBarID(), 1);
    EXPECT_EQ(store.progress(), 0.2);
    EXPECT_EQ(store.status(), "Verifying firmware…");
    EXPECT_EQ(store.progressCaption(), "Verifying");

    store.finishBusyFailure(std::make_exception_ptr(FlasherError::serialPortClosed()));
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_FALSE(store.progress());
    EXPECT_FALSE(store.progressIsVerify());
    EXPECT_EQ(store.status(), "Operation failed.");
    EXPECT_TRUE(store.lastError()->starts_with("The programming cable disconnected."));

    store.beginBusy("Reading firmware…", std::nullopt);
    store.finishBusySuccess("Done.");
    EXPECT_EQ(store.status(), "Connected."); // no chip known
    EXPECT_EQ(store.successMessage(), "Done.");
    EXPECT_EQ(store.progress(), 1.0);
}

TEST(StoreCore, DerivedTextsFollowTheSession) {
    StoreHarness h;
    auto& store = *h.store;
    connectDemo(h);
    EXPECT_FALSE(store.completionDetail(WizardStep::programmingMode));

    // A calculator running 16c firmware (1616h in the test catalogue): the title follows the
    // firmware read from it.
    loadIntoSimulator(store, imageWithChecksum(0x16));
    store.advance();
    h.platform.settle();
    ASSERT_TRUE(store.backupAssessment());
    EXPECT_EQ(store.appTitle(), "Pelwick 16CE");
    EXPECT_EQ(store.flashedModelName(), "HP 16c Collector’s Edition");

    store.setConfirmSkipBackup(true);
    store.skipBackup();
    EXPECT_FALSE(store.confirmSkipBackup());
    store.advance();
    EXPECT_EQ(store.completionDetail(WizardStep::backup), "Backup skipped · 1616h");
    EXPECT_FALSE(store.completionDetail(WizardStep::firmware));

    store.returnToWelcome();
    EXPECT_EQ(store.appTitle(), "Pelwick");
    EXPECT_FALSE(store.client());
    EXPECT_TRUE(store.usingSimulator()); // the simulator stays until the next session

    // A batch session is titled after the firmware it flashes.
    TempDir folder;
    h.begin(FlasherMode::batch);
    store.applyFirmware(folder.write("12c.bin", imageWithChecksum(0x12)));
    EXPECT_EQ(store.appTitle(), "Pelwick 12c");
    store.applyFirmware(folder.write("15c.bin", imageWithChecksum(0x15)));
    EXPECT_EQ(store.appTitle(), "Pelwick");
    EXPECT_EQ(store.flashedModelName(), "HP 15c Collector’s Edition");
}

TEST(StoreCore, AFileChosenBeforeTheReadIsJudgedAgainAfterIt) {
    StoreHarness h;
    TempDir folder;
    auto& store = *h.store;
    connectDemo(h);
    // The simulator's checksum, 9090h.
    store.applyFirmware(folder.write("same.bin", imageWithChecksum(0x90)));
    ASSERT_TRUE(store.firmwareAssessment());
    EXPECT_FALSE(store.firmwareAssessment()->onCalculator());
    EXPECT_NE(store.firmwareAssessment()->kind(),
              FirmwareFileAssessment::Kind::alreadyOnCalculator);
    EXPECT_EQ(store.expectedChecksumShort(), "9090h");

    store.advance();
    h.platform.settle();
    EXPECT_EQ(store.firmwareAssessment()->kind(),
              FirmwareFileAssessment::Kind::alreadyOnCalculator);
}

TEST(StoreCore, GoingBackToTheCableForgetsTheCalculator) {
    StoreHarness h;
    auto& store = *h.store;
    connectDemo(h);
    store.advance();
    h.platform.settle();
    ASSERT_TRUE(store.currentFirmware());
    const std::size_t jobs = h.platform.background->submittedCount();

    // Forth and back again without leaving programming mode: read only once.
    store.goBack();
    store.advance();
    h.platform.settle();
    EXPECT_EQ(h.platform.background->submittedCount(), jobs);

    store.goBack();
    store.goBack();
    EXPECT_EQ(store.wizard().step, WizardStep::cable);
    EXPECT_FALSE(store.client());
    EXPECT_FALSE(store.currentFirmware());
    EXPECT_FALSE(store.demoConnectAfter());
    EXPECT_FALSE(store.wizard().identitySupported);
}

TEST(StoreCore, TheShortcutCyclesSwitchesOrDoesNothing) {
    StoreHarness h;
    auto& store = *h.store;
    EXPECT_FALSE(store.handleSimulatorShortcut()); // not installed yet
    store.start();

    EXPECT_TRUE(store.handleSimulatorShortcut());
    EXPECT_EQ(store.selectedMode(), FlasherMode::demo); // the action runs in a later turn
    h.platform.settle();
    EXPECT_EQ(store.selectedMode(), FlasherMode::flash);
    for (int press = 0; press < 3; ++press) {
        store.handleSimulatorShortcut();
        h.platform.settle();
    }
    EXPECT_EQ(store.selectedMode(), FlasherMode::demo);

    // In a FLASH session it switches to the simulator and back.
    h.begin(FlasherMode::flash);
    EXPECT_EQ(h.platform.settings->string("flasherMode"), "flash");
    store.handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_TRUE(store.usingSimulator());
    EXPECT_TRUE(store.simulator());
    EXPECT_EQ(store.selectedMode(), FlasherMode::demo);
    EXPECT_EQ(h.platform.settings->string("flasherMode"), "demo");
    EXPECT_EQ(store.status(), "DEMO: connecting simulated calculator…");
    store.handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_FALSE(store.usingSimulator());
    EXPECT_FALSE(store.simulator());
    EXPECT_EQ(store.selectedMode(), FlasherMode::flash);
    EXPECT_EQ(store.status(), "Waiting for programming cable…");

    // Batch and probe sessions swallow it and change nothing.
    for (FlasherMode mode : {FlasherMode::batch, FlasherMode::probe}) {
        store.returnToWelcome();
        h.begin(mode);
        const int writes = h.platform.settings->writeCount("flasherMode");
        const int notifications = h.notifications;
        EXPECT_TRUE(store.handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(h.notifications, notifications);
        EXPECT_EQ(store.selectedMode(), mode);
        EXPECT_FALSE(store.usingSimulator());
        EXPECT_EQ(h.platform.settings->writeCount("flasherMode"), writes);
    }

    store.stop();
    EXPECT_FALSE(store.simulatorHotKeyMonitor());
    EXPECT_FALSE(store.handleSimulatorShortcut());
    EXPECT_FALSE(store.isMonitoring());
}

TEST(StoreCore, TheLoopIdlesOnTheWelcomeScreenAndWhileADialogIsOpen) {
    StoreHarness h;
    auto& store = *h.store;
    store.start();
    h.platform.advance(5.0);
    EXPECT_EQ(h.platform.background->submittedCount(), 0u);

    connectDemo(h);
    const std::size_t jobs = h.platform.background->submittedCount();
    h.platform.advance(2.0);
    EXPECT_EQ(h.platform.background->submittedCount(), jobs + 2); // one ping a second

    // A pass that falls due while the dialog is open does nothing.
    h.platform.dialogs->whileOpen = [&] { h.platform.advance(3.0); };
    store.chooseFirmware();
    EXPECT_EQ(h.platform.background->submittedCount(), jobs + 2);
    h.platform.dialogs->whileOpen = nullptr;
    h.platform.advance(1.0);
    EXPECT_GT(h.platform.background->submittedCount(), jobs + 2);
}

TEST(StoreCore, ResumeOnceLetsTheFirstDelivererWin) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> resumed{0};
        std::atomic<int> value{0};
        ResumeOnce<int> once([&](int v) {
            ++resumed;
            value = v;
        });
        std::atomic<int> winners{0};
        std::thread worker([&] { winners += once.finish(1); });
        winners += once.finish(2);
        worker.join();
        EXPECT_EQ(resumed, 1);
        EXPECT_EQ(winners, 1);
        EXPECT_TRUE(value == 1 || value == 2);
        EXPECT_FALSE(once.finish(3));
    }
}

TEST(StoreCoreDeathTest, OperationsOffTheMainThreadAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    StoreHarness h;
    EXPECT_DEATH(
        {
            std::thread other([&] { h.store->advance(); });
            other.join();
        },
        "FlasherStore used off the main thread");
    // Device work ran on other threads, the store's notifications never did.
    connectDemo(h);
    EXPECT_EQ(h.offMainNotifications, 0);
    EXPECT_FALSE(h.platform.background->jobThreads().count(h.platform.queue->mainThread()));
}
