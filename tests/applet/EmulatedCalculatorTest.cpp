// The host side (SambaClient, SambaFlashApplet, FlashCalw, Flasher) against a calculator whose
// monitor runs the uploaded flash applet on an emulated Cortex-M4.

#include "support/EmulatedCalculator.h"
#include "device/FlasherError.h"
#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "flasher/Flasher.h"
#include "samba/SambaAppletImage.h"
#include "samba/SambaFlashApplet.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace pelwick::testing {
namespace {

using Target = CortexM4Target;

constexpr std::uint32_t imageStart = SambaFlashApplet::loadAddress;
constexpr std::uint32_t imageEnd = imageStart + sambaAppletImageSize;
constexpr std::uint32_t mailbox = SambaFlashApplet::mailboxAddress;
// Room the applet may take on the monitor's stack.
constexpr std::uint32_t stackAllowance = 1024;
constexpr std::uint32_t stackLimit = Target::monitorStackPointer - stackAllowance;

Bytes randomBytes(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes out(length);
    for (auto& byte : out) {
        byte = static_cast<std::uint8_t>(generator() >> 24);
    }
    return out;
}

template <typename Action> FlasherError failureOf(Action&& action) {
    try {
        action();
    } catch (const FlasherError& error) {
        return error;
    }
    ADD_FAILURE() << "no FlasherError";
    return FlasherError::notConnected();
}

class EmulatedCalculatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        originalFlash = randomBytes(Target::flashSize, 7);
        target().write(Target::flashBase, originalFlash);
        info = applet.loadAndInitialize(0, 0, 0);
    }

    // Every go command ran the applet once, and every run gave the monitor back its state; the
    // applet's stores stayed in its mailbox, data, buffer, stack and the flash controller.
    void TearDown() override {
        if (!cleanRunsExpected) {
            return;
        }
        EXPECT_FALSE(calculator->hung());
        EXPECT_FALSE(calculator->runs().empty());
        for (const auto& run : calculator->runs()) {
            EXPECT_TRUE(run.returned) << run.error;
            EXPECT_TRUE(run.calleeSavedRestored);
            EXPECT_TRUE(run.stackPointerRestored);
            EXPECT_TRUE(run.monitorFrameIntact);
            EXPECT_TRUE(run.interruptMaskRestored);
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
        EXPECT_EQ(target().commandsWhileBusy(), 0);
        EXPECT_EQ(target().pageBufferMisuse(), 0);
    }

    Target& target() { return calculator->target(); }
    Bytes flash() { return target().read(Target::flashBase, Target::flashSize); }
    Bytes originalWith(std::uint32_t offset, const Bytes& data) const {
        Bytes expected = originalFlash;
        std::copy(data.begin(), data.end(), expected.begin() + offset);
        return expected;
    }

    // A WRITE set up word by word, as the driver would but without its own checks.
    void mailboxWrite(std::uint32_t offset, const Bytes& data) {
        client.write(info.bufferAddress, data);
        client.writeWord(mailbox, static_cast<std::uint32_t>(SambaAppletCommand::write));
        client.writeWord(mailbox + 0x04, 0);
        client.writeWord(mailbox + 0x08, info.bufferAddress);
        client.writeWord(mailbox + 0x0C, static_cast<std::uint32_t>(data.size()));
        client.writeWord(mailbox + 0x10, offset);
        applet.run(SambaAppletCommand::write, 12.0);
    }

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

    // Only the controller programs flash: monitor stores into the flash range change nothing.
    client.write(0x8000, Bytes(16, 0x00));
    client.writeWord(0x8010, 0);
    EXPECT_EQ(client.read(0x8000, 20, 1.0),
              Bytes(originalFlash.begin() + 0x8000, originalFlash.begin() + 0x8014));
    EXPECT_EQ(calculator->runs().size(), 1u) << "only INIT ran code";
}

TEST_F(EmulatedCalculatorTest, InitReportsTheFlashGeometryAndABufferClearOfImageAndStack) {
    EXPECT_EQ(info.memorySize, 0x20000u);
    EXPECT_EQ(info.pageSize, 512u);
    EXPECT_EQ(info.pageCount, 256u);
    EXPECT_EQ(info.appStartPage, 32u);
    EXPECT_EQ(info.lockBitCount, 16u);
    EXPECT_EQ(info.lockRegionSize, 0x2000u);
    EXPECT_GE(info.bufferSize, info.pageSize);
    const std::uint32_t bufferEnd = info.bufferAddress + info.bufferSize;
    EXPECT_TRUE(bufferEnd <= imageStart || info.bufferAddress >= imageEnd) << "overlaps the image";
    EXPECT_GE(info.bufferAddress, Target::ramBase);
    EXPECT_LE(bufferEnd, stackLimit) << "overlaps the stack";
    EXPECT_EQ(applet.info(), info);
}

TEST_F(EmulatedCalculatorTest, APageWrittenAtTheApplicationStartReadsBackThroughTheMonitor) {
    const Bytes page = randomBytes(512, 1);
    EXPECT_EQ(applet.write(0x4000, page), 512u);
    EXPECT_EQ(client.read(0x4000, 512, 1.0), page);
    EXPECT_EQ(flash(), originalWith(0x4000, page));
}

TEST_F(EmulatedCalculatorTest, BootloaderWritesAreRefusedByTheDriverAndByTheApplet) {
    const std::size_t sent = client.commandTrace().size();
    const FlasherError byDriver = failureOf([&] { applet.write(0x3FFF, randomBytes(512, 2)); });
    EXPECT_EQ(byDriver, FlasherError::writeWouldTouchBootloader(0x3FFF));
    EXPECT_EQ(client.commandTrace().size(), sent);

    // The bootloader's regions are unlocked, so that only the applet's offset check can refuse.
    const FlasherError byApplet = failureOf([&] { mailboxWrite(0x3E00, randomBytes(512, 2)); });
    EXPECT_EQ(byApplet, FlasherError::appletFailed(2));
    EXPECT_EQ(client.readWord(mailbox + 0x08, 1.0), 0u);
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target().commands().empty());
}

TEST_F(EmulatedCalculatorTest, ALockedRegionRefusesWritesUntilUnlocked) {
    target().setLockBit(3, true);
    const Bytes page = randomBytes(512, 3);
    EXPECT_EQ(failureOf([&] { applet.write(0x6000, page); }), FlasherError::appletFailed(2));
    EXPECT_EQ(flash(), originalFlash);

    applet.unlockRegion(3);
    EXPECT_FALSE(target().lockBit(3));
    EXPECT_EQ(applet.write(0x6000, page), 512u);
    EXPECT_EQ(flash(), originalWith(0x6000, page));
}

TEST_F(EmulatedCalculatorTest, AWriteCoveringPartOfAPageKeepsTheRestOfIt) {
    const Bytes data = randomBytes(100, 4);
    mailboxWrite(0x4025, data);
    EXPECT_EQ(client.readWord(mailbox + 0x08, 1.0), 100u);
    EXPECT_EQ(flash(), originalWith(0x4025, data));
}

TEST_F(EmulatedCalculatorTest, ProgramsAWholeImageThroughTheFlashDriverInWellUnderASecond) {
    const Bytes bootloader = randomBytes(FlashLayout::applicationStart, 5);
    target().write(Target::flashBase, bootloader);
    for (int region = 0; region < Target::lockRegions; ++region) {
        target().setLockBit(region, true);
    }
    const Bytes image = patternImage(3);

    const auto start = std::chrono::steady_clock::now();
    FlashCalw(client, 0).writeApplication(image, {}, {}, {}, true);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[   INFO   ] 114,688-byte image programmed and verified in %.3f s, %zu runs\n",
                seconds, calculator->runs().size());

    const Bytes after = flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin() + 0x4000));
    EXPECT_TRUE(std::equal(bootloader.begin(), bootloader.end(), after.begin()))
        << "the bootloader changed";
    for (int region = 0; region < Target::lockRegions; ++region) {
        EXPECT_EQ(target().lockBit(region), region < 2) << "region " << region;
    }
    EXPECT_LT(seconds, 5.0);
}

TEST_F(EmulatedCalculatorTest, FlasherWritesAFileAndReadsItBackEndToEnd) {
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
    const auto file = folder.write("firmware.bin", firmware);

    flasher.write(file, FlashLayout::applicationStart, nullptr, true);
    EXPECT_EQ(flasher.readApplication(nullptr), firmware);
    EXPECT_EQ(opened, 2);
}

TEST_F(EmulatedCalculatorTest, AnAppletThatNeverReturnsHangsTheChipAndTheHostTimesOut) {
    cleanRunsExpected = false;
    calculator->setInstructionBudget(100'000);
    // Replace the applet's first instruction by "b .".
    const std::uint32_t entry = client.readWord(imageStart + 4, 1.0) & ~1u;
    client.write(entry, Bytes{0xFE, 0xE7});

    const FlasherError error = failureOf([&] { applet.write(0x4000, randomBytes(512, 6)); });
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
    EXPECT_EQ(failureOf([&] { client.ping(1.0); }).kind(), FlasherError::Case::sambaTimeout);
}

} // namespace
} // namespace pelwick::testing
