#include "StoreHarness.h"

#include "store/ResumeOnce.h"
#include "util/FileIO.h"

#include <atomic>
#include <thread>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

// An application image whose displayed checksum is 0xVVVV.
Bytes imageWithChecksum(std::uint8_t value) {
    Bytes image(0x1C000, 0x00);
    image[0] = value;
    image[1] = 0x01;
    return image;
}

// A DEMO session connected at the programming-mode step.
void connectDemo(StoreHarness& h) {
    h.begin(FlasherMode::demo);
    h.advanceStep();
    h.platform.advance(3.0);
    h.store->refreshConnection();
    h.platform.settle();
    ASSERT_TRUE(h.store->client());
}

TEST(StoreCore, TheStoredModeIsReadBackAndAnythingElseMeansDemo) {
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::string, FlasherMode>>{{"probe", FlasherMode::probe},
                                                          {"batch", FlasherMode::batch},
                                                          {"Probe", FlasherMode::demo},
                                                          {"", FlasherMode::demo}}) {
        FakePlatform platform;
        platform.settings->setString("flasherMode", stored);
        EXPECT_EQ(FlasherStore::create(platform.storePlatform())->selectedMode(), expected)
            << stored;
    }
    FakePlatform platform;
    platform.settings->setBool("flasherMode", true); // not a text at all
    EXPECT_EQ(FlasherStore::create(platform.storePlatform())->selectedMode(), FlasherMode::demo);
}

// DEMO runs the whole wizard in virtual time: the connection comes 3 s after the wizard looks
// for it, the read and the flash show progress on bars that only run forward (the verify on a
// fresh one), the simulator ends up holding the image, and the demo is marked completed once.
TEST(DemoSession, RunsTheWholeWizardInVirtualTime) {
    StoreHarness h;
    auto& store = *h.store;
    const Bytes firmware = patternImage(7);
    store.start();
    h.begin(FlasherMode::demo);
    EXPECT_TRUE(store.usingSimulator());
    store.advance();
    h.platform.advance(2.9);
    EXPECT_FALSE(store.client());
    h.platform.advance(1.2);
    ASSERT_TRUE(store.client());
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodemDEMO");

    std::vector<std::pair<int, double>> bars; // bar, progress
    h.observe = [&] {
        if (store.progress() && store.wizard().isBusy) {
            bars.emplace_back(store.progressBarID(), *store.progress());
        }
    };
    h.advanceStep();
    ASSERT_TRUE(store.currentFirmware());
    h.platform.dialogs->saveAnswers.push_back(h.folder / "backup.bin");
    store.backup();
    EXPECT_EQ(readWholeFile(h.folder / "backup.bin"), *store.currentFirmware());
    EXPECT_TRUE(store.wizard().backupResolved);
    store.advance();
    h.platform.dialogs->openAnswers.push_back(h.folder.write("voyager.rom", firmware));
    store.chooseFirmware();
    store.advance();
    ASSERT_TRUE(store.canFlash());
    store.setConfirmFlash(true);
    bars.clear();
    store.flash();
    EXPECT_FALSE(store.confirmFlash());
    h.platform.settle();
    ASSERT_TRUE(store.wizard().flashSucceeded) << store.lastError().value_or("");
    EXPECT_FALSE(store.wizard().isBusy);
    EXPECT_TRUE(store.progressIsVerify());
    EXPECT_EQ(store.progress(), 1.0);

    // From the write's empty bar on.
    bars.erase(bars.begin(), std::find_if(bars.begin(), bars.end(),
                                          [](const auto& bar) { return bar.second == 0.0; }));
    for (std::size_t i = 1; i < bars.size(); ++i) {
        EXPECT_LE(bars[i].second, 1.0);
        if (bars[i].first == bars[i - 1].first) {
            EXPECT_GE(bars[i].second, bars[i - 1].second) << "bar " << bars[i].first << " at " << i;
        } else {
            EXPECT_EQ(bars[i].first, bars[i - 1].first + 1);
        }
    }
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars.back().first, bars.front().first + 1); // one fresh bar: the verify's

    Bytes flashed(0x1C000);
    for (std::uint32_t offset = 0; offset < flashed.size(); ++offset) {
        flashed[offset] = store.simulator()->memory().at(0x4000 + offset);
    }
    EXPECT_EQ(flashed, firmware);
    store.advance();
    store.advance();
    EXPECT_EQ(store.wizard().step, WizardStep::checksum);
    EXPECT_EQ(h.platform.settings->boolean("demoModeCompleted"), true);
    store.markDemoCompleted();
    EXPECT_EQ(h.platform.settings->writeCount("demoModeCompleted"), 1);
    EXPECT_EQ(h.offMainNotifications, 0);
}

// Fast transfer is a setting of its own, off on first start. A DEMO flash makes a cable's
// pauses unless it is on; a fast flash whose poll is answered late falls back, pauses from there
// on, succeeds and says that it fell back.
TEST(StoreCore, FastTransferIsRememberedLeavesOutThePausesAndShowsAFallback) {
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
        h.advanceStep();
        store.skipBackup();
        store.advance();
        store.applyFirmware(h.folder.write("image.bin", imageWithChecksum(0x15)));
        store.advance();
        *h.platform.demoPauses = 0;
        store.flash();
        h.platform.settle();
        EXPECT_TRUE(store.wizard().flashSucceeded) << store.lastError().value_or("");
        EXPECT_EQ(*h.platform.demoPauses > 0, c.pauses) << c.fast << c.latePoll;
        EXPECT_EQ(store.flashFellBack(), c.fellBack) << c.fast << c.latePoll;
    }
    FakePlatform platform;
    platform.settings->setBool("fastTransfer", true);
    EXPECT_TRUE(FlasherStore::create(platform.storePlatform())->fastTransfer());
}

TEST(StoreCore, AFileChosenBeforeTheReadIsJudgedAgainAfterIt) {
    StoreHarness h;
    connectDemo(h);
    h.store->applyFirmware(h.folder.write("same.bin", imageWithChecksum(0x90))); // the simulator's
    ASSERT_TRUE(h.store->firmwareAssessment());
    EXPECT_FALSE(h.store->firmwareAssessment()->onCalculator());
    h.advanceStep();
    EXPECT_EQ(h.store->firmwareAssessment()->kind(),
              FirmwareFileAssessment::Kind::alreadyOnCalculator);
}

TEST(StoreCore, TheShortcutCyclesSwitchesOrDoesNothing) {
    StoreHarness h;
    auto& store = *h.store;
    EXPECT_FALSE(store.handleSimulatorShortcut()); // not installed yet
    store.start();
    EXPECT_TRUE(store.handleSimulatorShortcut());
    h.platform.settle();
    EXPECT_EQ(store.selectedMode(), FlasherMode::flash);

    h.begin(FlasherMode::flash);
    store.handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_TRUE(store.usingSimulator());
    EXPECT_EQ(h.platform.settings->string("flasherMode"), "demo");
    store.handleSimulatorShortcut();
    h.platform.settle();
    EXPECT_FALSE(store.usingSimulator());
    EXPECT_FALSE(store.simulator());

    // Batch and probe sessions swallow it and change nothing.
    for (FlasherMode mode : {FlasherMode::batch, FlasherMode::probe}) {
        store.returnToWelcome();
        h.begin(mode);
        const int notifications = h.notifications;
        EXPECT_TRUE(store.handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(h.notifications, notifications);
        EXPECT_FALSE(store.usingSimulator());
    }
    store.stop();
    EXPECT_FALSE(store.handleSimulatorShortcut());
    EXPECT_FALSE(store.isMonitoring());
}

TEST(StoreCore, TheLoopIdlesOnTheWelcomeScreenAndWhileADialogIsOpen) {
    StoreHarness h;
    h.store->start();
    h.platform.advance(5.0);
    EXPECT_EQ(h.platform.background->submittedCount(), 0u);

    connectDemo(h);
    const std::size_t jobs = h.platform.background->submittedCount();
    h.platform.advance(2.0);
    EXPECT_EQ(h.platform.background->submittedCount(), jobs + 2); // one ping a second
    h.platform.dialogs->whileOpen = [&] { h.platform.advance(3.0); };
    h.store->chooseFirmware();
    EXPECT_EQ(h.platform.background->submittedCount(), jobs + 2);
}

TEST(StoreCore, ResumeOnceLetsTheFirstDelivererWin) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> resumed{0};
        ResumeOnce<int> once([&](int) { ++resumed; });
        std::atomic<int> winners{0};
        std::thread worker([&] { winners += once.finish(1); });
        winners += once.finish(2);
        worker.join();
        EXPECT_EQ(resumed, 1);
        EXPECT_EQ(winners, 1);
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

} // namespace
