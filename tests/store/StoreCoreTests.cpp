#include "StoreHarness.h"

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

// A new store reads the mode (anything but a mode's name means DEMO) and fast transfer (off
// when missing) from the settings.
TEST(StoreCore, TheSettingsAreReadBack) {
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::string, FlasherMode>>{{"probe", FlasherMode::probe},
                                                          {"batch", FlasherMode::batch},
                                                          {"Probe", FlasherMode::demo},
                                                          {"", FlasherMode::demo}}) {
        FakePlatform platform;
        platform.settings->setString("flasherMode", stored);
        const auto store = FlasherStore::create(platform.storePlatform());
        EXPECT_EQ(store->selectedMode(), expected) << stored;
        EXPECT_FALSE(store->fastTransfer());
    }
    FakePlatform platform;
    platform.settings->setBool("flasherMode", true); // not a text at all
    platform.settings->setBool("fastTransfer", true);
    const auto store = FlasherStore::create(platform.storePlatform());
    EXPECT_EQ(store->selectedMode(), FlasherMode::demo);
    EXPECT_TRUE(store->fastTransfer());
}

// DEMO runs the whole wizard in virtual time: the connection comes 3 s after the wizard looks
// for it, the flash shows its progress on a bar that only runs forward and the verify on a fresh
// one, and the simulator ends up holding the image.
TEST(DemoSession, RunsTheWholeWizardInVirtualTime) {
    StoreHarness h;
    auto& store = *h.store;
    store.start();
    h.begin(FlasherMode::demo);
    store.advance();
    h.platform.advance(2.9);
    EXPECT_FALSE(store.client());
    h.platform.advance(1.2);
    ASSERT_TRUE(store.client());
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodemDEMO");
    h.advanceStep();
    store.skipBackup();
    store.advance();
    h.platform.dialogs->openAnswers.push_back(h.folder.write("voyager.rom", patternImage(7)));
    store.chooseFirmware();
    store.advance();

    std::vector<int> bars;
    double last = 0;
    h.observe = [&] {
        // From the write's empty bar on.
        if (store.progress() && store.wizard().isBusy &&
            (!bars.empty() || *store.progress() == 0)) {
            if (bars.empty() || bars.back() != store.progressBarID()) {
                bars.push_back(store.progressBarID());
            } else {
                EXPECT_GE(*store.progress(), last) << "bar " << bars.back();
            }
            last = *store.progress();
        }
    };
    store.setConfirmFlash(true);
    store.flash();
    EXPECT_FALSE(store.confirmFlash());
    h.platform.settle();
    ASSERT_TRUE(store.wizard().flashSucceeded) << store.lastError().value_or("");
    EXPECT_TRUE(store.progressIsVerify());
    EXPECT_EQ(store.progress(), 1.0);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[1], bars[0] + 1);
    EXPECT_EQ(applicationOf(*store.simulator()), patternImage(7));
}

// Fast transfer is a setting of its own. A DEMO flash makes a cable's
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

// In DEMO and FLASH the shortcut switches the device; batch and probe sessions swallow it and
// change nothing.
TEST(StoreCore, TheShortcutSwitchesOrDoesNothing) {
    StoreHarness h;
    auto& store = *h.store;
    store.start();
    h.begin(FlasherMode::flash);
    for (const bool simulator : {true, false}) {
        EXPECT_TRUE(store.handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(store.usingSimulator(), simulator);
        EXPECT_EQ(store.simulator() != nullptr, simulator);
        EXPECT_EQ(h.platform.settings->string("flasherMode"), simulator ? "demo" : "flash");
    }
    for (FlasherMode mode : {FlasherMode::batch, FlasherMode::probe}) {
        store.returnToWelcome();
        h.begin(mode);
        const int notifications = h.notifications;
        EXPECT_TRUE(store.handleSimulatorShortcut());
        h.platform.settle();
        EXPECT_EQ(h.notifications, notifications);
    }
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

TEST(StoreCoreDeathTest, OperationsOffTheMainThreadAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    StoreHarness h;
    EXPECT_DEATH(
        {
            std::thread other([&] { h.store->advance(); });
            other.join();
        },
        "FlasherStore used off the main thread");
}

} // namespace
