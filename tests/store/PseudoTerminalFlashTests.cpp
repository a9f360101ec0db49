#include "StoreHarness.h"

#include "sim/PseudoTerminalServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pelwick;
using namespace pelwick::testing;

// FLASH mode through the real serial code: a simulated calculator served on a pseudo-terminal,
// found through a device folder that holds a link named like a USB modem port.
TEST(PseudoTerminalFlash, FlashesAndVerifiesThroughTheSerialLink) {
    TempDir devices;
    TempDir files;
    auto calculator = std::make_shared<SimulatedCalculatorTransport>(0.0, true);
    auto server = std::make_unique<PseudoTerminalServer>(calculator);
    std::filesystem::create_symlink(server->slavePath(), devices / "ttyACM0");
    server->start();

    const Bytes firmware = patternImage(11);
    const auto firmwarePath = files.write("hp15c.bin", firmware);
    {
        StoreHarness h([folder = devices.path()] {
            Flasher flasher = Flasher::realCable(folder);
            flasher.flashCommandSettleSeconds = 0.0; // the simulator needs no settle time
            return flasher;
        });
        auto& store = *h.store;
        store.start();
        h.begin(FlasherMode::flash);
        EXPECT_FALSE(store.usingSimulator());
        EXPECT_EQ(store.status(), "Waiting for programming cable…");

        store.advance();
        EXPECT_EQ(store.status(), "Waiting for SAM-BA…");
        h.platform.settle();
        ASSERT_EQ(store.status(), "Connected: ATSAM4LC2C");
        EXPECT_EQ(store.portPath(), (devices / "ttyACM0").string());
        EXPECT_EQ(store.sambaVersion(), "v1.1 Dec 15 2013 19:03:14");

        store.advance();
        h.platform.settle();
        ASSERT_TRUE(store.currentFirmware());
        EXPECT_EQ(store.backupAssessment()->displayed(), 0x9090);
        store.skipBackup();

        store.advance();
        store.applyFirmware(firmwarePath);
        store.advance();
        ASSERT_TRUE(store.canFlash());
        store.flash();
        h.platform.settle();
        EXPECT_EQ(store.lastError(), std::nullopt);
        EXPECT_EQ(store.successMessage(), "Flashed and verified.");
        EXPECT_TRUE(store.wizard().flashSucceeded);
        EXPECT_EQ(store.progressBarID(), 1);

        // The kept connection answers the next pass's ping.
        h.platform.advance(1.0);
        EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
        store.advance();
        store.advance();
        EXPECT_EQ(store.wizard().step, WizardStep::checksum);
        EXPECT_FALSE(store.hasCompletedDemo()); // not a demo
    }
    server.reset(); // joins the serving thread
    Bytes flashed(0x1C000);
    for (std::uint32_t offset = 0; offset < flashed.size(); ++offset) {
        flashed[offset] = calculator->memory().at(0x4000 + offset);
    }
    EXPECT_EQ(flashed, firmware);
}
