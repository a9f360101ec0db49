#include "StoreHarness.h"

#include <thread>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

// A new store reads the mode (anything but a mode's name means DEMO) and fast transfer (off
// when missing) from the settings.
TEST(StoreCore, TheSettingsAreReadBack) {
    for (const auto& [stored, expected] :
         std::vector<std::pair<std::string, FlasherMode>>{{"probe", FlasherMode::probe},
                                                          {"batch", FlasherMode::batch},
                                                          {"Probe", FlasherMode::demo}}) {
        FakePlatform platform;
        platform.settings->setString("flasherMode", stored);
        if (stored == "batch") {
            platform.settings->setBool("fastTransfer", true);
        }
        const auto store = FlasherStore::create(platform.storePlatform());
        EXPECT_EQ(store->selectedMode(), expected) << stored;
        EXPECT_EQ(store->fastTransfer(), stored == "batch") << stored;
    }
}

// DEMO runs the wizard in virtual time: the calculator answers 3 s after the wizard looks for
// it; a file chosen before the firmware is read is judged again after the read; a flash makes a
// cable's pauses unless fast transfer (a setting of its own) is on, shows its progress on a bar
// that only runs forward and the verify on a fresh one, and leaves the image in the simulator.
TEST(DemoSession, FlashesInVirtualTimeAtTheChosenPace) {
    for (const bool fast : {false, true}) {
        StoreHarness h;
        auto& store = *h.store;
        store.setFastTransfer(fast);
        EXPECT_EQ(h.platform.settings->boolean("fastTransfer"), fast);
        store.start();
        h.begin(FlasherMode::demo);
        store.advance();
        h.platform.advance(2.9);
        EXPECT_FALSE(store.client());
        h.platform.advance(1.2);
        ASSERT_TRUE(store.client());
        EXPECT_EQ(store.portPath(), "/dev/cu.usbmodemDEMO");
        // A file chosen before the read is judged again after it: its checksum, 9090h, is the
        // simulator's.
        Bytes same(0x1C000, 0x00);
        same[0] = 0x90;
        same[1] = 0x01;
        store.applyFirmware(h.folder.write("same.bin", same));
        ASSERT_TRUE(store.firmwareAssessment());
        EXPECT_FALSE(store.firmwareAssessment()->onCalculator());
        h.advanceStep();
        EXPECT_EQ(store.firmwareAssessment()->kind(),
                  FirmwareFileAssessment::Kind::alreadyOnCalculator);
        store.skipBackup();
        store.advance();
        store.applyFirmware(h.folder.write("voyager.rom", patternImage(7)));
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
        *h.platform.demoPauses = 0;
        store.setConfirmFlash(true);
        store.flash();
        EXPECT_FALSE(store.confirmFlash());
        h.platform.settle();
        ASSERT_TRUE(store.wizard().flashSucceeded) << store.lastError().value_or("");
        EXPECT_EQ(*h.platform.demoPauses > 0, !fast);
        EXPECT_TRUE(store.progressIsVerify());
        EXPECT_EQ(store.progress(), 1.0);
        ASSERT_EQ(bars.size(), 2u);
        EXPECT_EQ(bars[1], bars[0] + 1);
        EXPECT_EQ(applicationOf(*store.simulator()), patternImage(7));
    }
}

TEST(StoreCore, TheLoopIdlesOnTheWelcomeScreenAndWhileADialogIsOpen) {
    StoreHarness h;
    h.store->start();
    h.platform.advance(5.0);
    EXPECT_EQ(h.platform.background->submittedCount(), 0u);

    h.toProgrammingMode(FlasherMode::demo);
    h.platform.advance(3.5); // the simulated calculator answers after 3 s
    ASSERT_TRUE(h.store->client());
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
    EXPECT_DEATH(std::thread([&] { h.store->advance(); }).join(),
                 "FlasherStore used off the main thread");
}

} // namespace
