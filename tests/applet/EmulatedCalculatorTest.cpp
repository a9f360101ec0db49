// The host side (Flasher, FlashCalw, SambaFlashApplet, SambaClient) against a calculator whose
// monitor runs the uploaded flash applet on an emulated Cortex-M4.

#include "support/EmulatedCalculator.h"
#include "flash/FlashLayout.h"
#include "flasher/Flasher.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pelwick::testing {
namespace {

using Target = CortexM4Target;

TEST(EmulatedCalculator, FlasherWritesAFileAndReadsItBackLeavingTheBootloaderLocked) {
    auto calculator = std::make_shared<EmulatedCalculator>();
    Target& target = calculator->target();
    const Bytes originalFlash = patternBytes(Target::flashSize, 7);
    target.write(Target::flashBase, originalFlash);
    for (int region = 0; region < Target::lockRegions; ++region) {
        target.setLockBit(region, true);
    }
    struct OnePort : SerialPortListing {
        std::vector<SerialPort> listPorts() const override { return {SerialPort("/dev/ttyACM0")}; }
    };
    int opened = 0;
    const Flasher flasher{std::make_shared<OnePort>(), true,
                          [&](const SerialPort&) -> std::unique_ptr<ByteTransport> {
                              ++opened;
                              return std::make_unique<SharedTransport>(calculator);
                          },
                          0.0};
    TempDir folder;
    const Bytes firmware = patternImage(9);
    flasher.write(FirmwareImage{folder.write("firmware.bin", firmware), firmware},
                  FlashLayout::applicationStart, nullptr, true);
    EXPECT_EQ(flasher.readApplication(nullptr), firmware);
    EXPECT_EQ(opened, 2);

    // Every go command ran the applet, which gave the monitor back its state each time.
    EXPECT_FALSE(calculator->hung());
    EXPECT_GT(calculator->runs().size(), 200u);
    const Bytes after = target.read(Target::flashBase, Target::flashSize);
    EXPECT_TRUE(std::equal(originalFlash.begin(), originalFlash.begin() + 0x4000, after.begin()))
        << "the bootloader changed";
    for (int region = 0; region < Target::lockRegions; ++region) {
        EXPECT_EQ(target.lockBit(region), region < 2) << "region " << region;
    }
}

} // namespace
} // namespace pelwick::testing
