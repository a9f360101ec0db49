// The host side (SambaClient, SambaFlashApplet, FlashCalw, Flasher) against a calculator whose
// monitor runs the uploaded flash applet on an emulated Cortex-M4.

#include "support/EmulatedCalculator.h"
#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "flasher/Flasher.h"
#include "samba/SambaAppletImage.h"
#include "samba/SambaFlashApplet.h"
#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace pelwick::testing {
namespace {

using Target = CortexM4Target;

constexpr std::uint32_t imageStart = SambaFlashApplet::loadAddress;
constexpr std::uint32_t imageEnd = imageStart + sambaAppletImageSize;
constexpr std::uint32_t mailbox = SambaFlashApplet::mailboxAddress;
// Room the applet may take on the monitor's stack.
constexpr std::uint32_t stackLimit = Target::monitorStackPointer - 1024;

class EmulatedCalculatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        originalFlash = patternBytes(Target::flashSize, 7);
        target().write(Target::flashBase, originalFlash);
        info = applet.loadAndInitialize(0, 0, 0);
    }

    // Every go command ran the applet once, and every run gave the monitor back its state; the
    // applet's stores stayed in its mailbox, data, buffer, stack and the flash controller, which
    // it commanded with the key, with interrupts masked and only when ready.
    void TearDown() override {
        if (!cleanRunsExpected) {
            return;
        }
        EXPECT_FALSE(calculator->hung());
        EXPECT_FALSE(calculator->runs().empty());
        for (const auto& run : calculator->runs()) {
            EXPECT_TRUE(run.returned && run.calleeSavedRestored && run.stackPointerRestored &&
                        run.monitorFrameIntact && run.interruptMaskRestored)
                << run.error;
        }
        auto allowed = [&](const Target::MemoryWrite& w) {
            auto within = [&](std::uint32_t begin, std::uint32_t end) {
                return w.address >= begin && w.address + w.size <= end;
            };
            return within(mailbox, mailbox + 0x24) ||
                   within(imageEnd, info.bufferAddress + info.bufferSize) ||
                   within(stackLimit, Target::monitorStackPointer) ||
                   within(Target::flashBase, Target::flashBase + Target::flashSize) ||
                   within(Target::flashcalwBase, Target::flashcalwBase + 0x100);
        };
        for (const auto& w : target().cpuWrites()) {
            EXPECT_TRUE(allowed(w)) << std::hex << "applet stored at 0x" << w.address;
        }
        for (const auto& c : target().commands()) {
            EXPECT_TRUE(c.value >> 24 == 0xA5 && c.interruptsMasked) << std::hex << c.value;
        }
        EXPECT_EQ(target().commandsWhileBusy(), 0);
        EXPECT_EQ(target().pageBufferMisuse(), 0);
    }

    Target& target() { return calculator->target(); }
    Bytes flash() { return target().read(Target::flashBase, Target::flashSize); }

    std::shared_ptr<EmulatedCalculator> calculator = std::make_shared<EmulatedCalculator>();
    SambaClient client{std::make_unique<SharedTransport>(calculator), [](double) {}};
    SambaFlashApplet applet{client, 0};
    SambaAppletInfo info;
    Bytes originalFlash;
    bool cleanRunsExpected = true;
};

TEST_F(EmulatedCalculatorTest, MonitorCommandsReachTheChipsMemoryAndRegisters) {
    EXPECT_EQ(client.readWord(SambaClient::pingAddress, 1.0), Target::cidrValue);
    EXPECT_TRUE(FlashCalw(client, 0).identify().isSupported15C());
    EXPECT_EQ(client.read(0x4000, 600, 1.0),
              Bytes(originalFlash.begin() + 0x4000, originalFlash.begin() + 0x4000 + 600));

    // A word written to FCMD is a command the controller executes; a wrong key is refused. (No
    // code polls FSR here, so the controller must not stay busy after a command.)
    target().setBusyPolls(0);
    client.writeWord(Target::fcmd, 0xA5000000 | 40 << 8 | Target::cmdEP);
    EXPECT_EQ(client.read(40 * 512, 512, 1.0), Bytes(512, 0xFF));
    client.writeWord(Target::fcmd, 0x5A000000 | 41 << 8 | Target::cmdEP);
    EXPECT_EQ(client.readWord(Target::fsr, 1.0) & Target::fsrPROGE, Target::fsrPROGE);
    target().setLockBit(9, true);
    EXPECT_EQ(client.readWord(Target::fsr, 1.0) >> 16, 1u << 9);
    target().clearCommands(); // the host's own commands, not the applet's

    // Only the controller programs flash: monitor stores into the flash range change nothing.
    client.write(0x8000, Bytes(16, 0x00));
    client.writeWord(0x8010, 0);
    EXPECT_EQ(client.read(0x8000, 20, 1.0),
              Bytes(originalFlash.begin() + 0x8000, originalFlash.begin() + 0x8014));
    EXPECT_EQ(calculator->runs().size(), 1u) << "only INIT ran code";
}

TEST_F(EmulatedCalculatorTest, BootloaderWritesAreRefusedByTheApplet) {
    // The driver refuses such writes itself (see its own tests); a WRITE set up word by word
    // reaches the applet, whose offset check refuses it (the bootloader's regions are unlocked).
    client.write(info.bufferAddress, patternBytes(512, 2));
    const std::uint32_t words[] = {0x02, 0, info.bufferAddress, 512, 0x3E00};
    for (std::uint32_t i = 0; i < 5; ++i) {
        client.writeWord(mailbox + 4 * i, words[i]);
    }
    EXPECT_EQ(flasherErrorOf([&] { applet.run(SambaAppletCommand::write, 12.0); }),
              FlasherError::appletFailed(2));
    EXPECT_EQ(client.readWord(mailbox + 0x08, 1.0), 0u);
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target().commands().empty());
}

TEST_F(EmulatedCalculatorTest, FlasherWritesAFileAndReadsItBackInWellUnderASecondPerPass) {
    for (int region = 0; region < Target::lockRegions; ++region) {
        target().setLockBit(region, true);
    }
    struct OnePort : SerialPortListing {
        std::vector<SerialPort> listPorts() const override { return {SerialPort("/dev/ttyACM0")}; }
    };
    int opened = 0;
    const Flasher flasher{std::make_shared<OnePort>(), true,
                          [&](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                              EXPECT_EQ(port.name(), "ttyACM0");
                              ++opened;
                              return std::make_unique<SharedTransport>(calculator);
                          },
                          0.0};
    TempDir folder;
    const Bytes firmware = patternImage(9);

    const auto start = std::chrono::steady_clock::now();
    flasher.write(FirmwareImage{folder.write("firmware.bin", firmware), firmware},
                  FlashLayout::applicationStart, nullptr, true);
    EXPECT_EQ(flasher.readApplication(nullptr), firmware);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(opened, 2);

    const Bytes after = flash();
    EXPECT_TRUE(std::equal(originalFlash.begin(), originalFlash.begin() + 0x4000, after.begin()))
        << "the bootloader changed";
    for (int region = 0; region < Target::lockRegions; ++region) {
        EXPECT_EQ(target().lockBit(region), region < 2) << "region " << region;
    }
}

TEST_F(EmulatedCalculatorTest, AnAppletThatNeverReturnsHangsTheChipAndTheHostTimesOut) {
    cleanRunsExpected = false;
    calculator->setInstructionBudget(100'000);
    // Replace the applet's first instruction by "b .".
    const std::uint32_t entry = client.readWord(imageStart + 4, 1.0) & ~1u;
    client.write(entry, Bytes{0xFE, 0xE7});

    const FlasherError error = flasherErrorOf([&] { applet.write(0x4000, patternBytes(512, 6)); });
    EXPECT_EQ(error.errorDescription(),
              "Timed out waiting for the SAM-BA flash applet (command 0x2). Leave the cable "
              "plugged in. If Status is not Connected, hold ERASE, press RESET, then release "
              "ERASE.");
    EXPECT_TRUE(calculator->hung());
    ASSERT_EQ(calculator->runs().size(), 2u);
    EXPECT_FALSE(calculator->runs().back().returned);
    EXPECT_EQ(calculator->runs().back().instructions, 100'000u);
    EXPECT_EQ(flash(), originalFlash);
    // The monitor stays silent for every later command.
    EXPECT_EQ(flasherErrorOf([&] { client.ping(1.0); }).kind(), FlasherError::Case::sambaTimeout);
}

} // namespace
} // namespace pelwick::testing
