// Runs the committed flash applet image on an emulated Cortex-M4 against the FLASHCALW model and
// drives it through its mailbox, as the host does over the SAM-BA monitor.

#include "samba/SambaAppletImage.h"
#include "support/CortexM4Target.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace pelwick::testing {
namespace {

using Target = CortexM4Target;
using Words = std::vector<std::uint32_t>;

constexpr std::uint32_t loadAddress = 0x20002000;
constexpr std::uint32_t imageEnd = loadAddress + sambaAppletImageSize;
constexpr std::uint32_t mailbox = 0x20002040;
// Room the applet may take on the monitor's stack.
constexpr std::uint32_t stackAllowance = 1024;
constexpr std::uint64_t budget = 20'000'000;

constexpr std::uint32_t cmdInit = 0x00;
constexpr std::uint32_t cmdWrite = 0x02;
constexpr std::uint32_t cmdUnlock = 0x05;

struct Outcome {
    std::uint32_t status;
    std::uint32_t result0;
};

class AppletEmulation : public ::testing::Test {
protected:
    void SetUp() override {
        originalFlash = patternBytes(Target::flashSize, 1);
        target.write(Target::flashBase, originalFlash);
        target.write(loadAddress, sambaAppletImage());
        entry = target.readWord(loadAddress + 4);
        // As on a calculator: the bootloader's two regions are locked.
        target.setLockBit(0, true);
        target.setLockBit(1, true);
        ASSERT_EQ(run(cmdInit, {0, 0, 0}).status, 0u);
        bufferAddress = target.readWord(mailbox + 0x0C);
        bufferSize = target.readWord(mailbox + 0x10);
        target.clearCpuWrites();
        target.clearCommands();
    }

    // Puts a command, a zero status and the arguments in the mailbox.
    void load(std::uint32_t command, const Words& args) {
        target.writeWord(mailbox, command);
        target.writeWord(mailbox + 4, 0);
        for (std::size_t i = 0; i < args.size(); ++i)
            target.writeWord(mailbox + 8 + 4 * static_cast<std::uint32_t>(i), args[i]);
    }

    Outcome run(std::uint32_t command, const Words& args) {
        load(command, args);
        const auto r = target.call(entry, budget);
        EXPECT_TRUE(r.returned) << "command " << command << ": " << r.error;
        EXPECT_EQ(target.readWord(mailbox), ~command) << "command " << command;
        return {target.readWord(mailbox + 4), target.readWord(mailbox + 8)};
    }

    Outcome writeFlash(std::uint32_t offset, const Bytes& data) {
        target.write(bufferAddress, data);
        return run(cmdWrite, {bufferAddress, static_cast<std::uint32_t>(data.size()), offset});
    }

    Bytes flash() const { return target.read(0, Target::flashSize); }

    // The flash as it must be after the bytes at offset were replaced by data.
    Bytes originalWith(std::uint32_t offset, const Bytes& data) const {
        auto expected = originalFlash;
        std::copy(data.begin(), data.end(), expected.begin() + offset);
        return expected;
    }

    void expectControllerUsedProperly() const {
        EXPECT_EQ(target.commandsWhileBusy(), 0) << "a command was written before FRDY";
        EXPECT_EQ(target.pageBufferMisuse(), 0) << "page buffer written other than by words";
        for (const auto& c : target.commands()) {
            EXPECT_EQ(c.value >> 24, 0xA5u);
            EXPECT_TRUE(c.interruptsMasked) << std::hex << "FCMD 0x" << c.value;
            EXPECT_EQ(c.stackPointer % 8, 0u) << std::hex << "SP 0x" << c.stackPointer;
        }
    }

    Target target;
    Bytes originalFlash;
    std::uint32_t entry = 0;
    std::uint32_t bufferAddress = 0;
    std::uint32_t bufferSize = 0;
};

TEST_F(AppletEmulation, InitReportsTheFlashGeometryAndABufferThatOverlapsNothing) {
    Words info;
    for (std::uint32_t i = 0; i < 7; ++i) {
        info.push_back(target.readWord(mailbox + 8 + 4 * i));
    }
    EXPECT_EQ(info, (Words{0x20000, bufferAddress, bufferSize, 16u << 16 | 0x2000u, 512, 256, 32}));
    EXPECT_GE(bufferSize, 512u);
    EXPECT_EQ(bufferAddress % 8, 0u);
    EXPECT_GE(bufferAddress, imageEnd);
    EXPECT_LE(bufferAddress + bufferSize, Target::monitorStackPointer - stackAllowance);
}

TEST_F(AppletEmulation, WritesKeepTheRestOfEveryPageAndWaitOutABusyController) {
    // A whole page at the application start, a whole page off its boundary, and the last byte.
    const std::pair<std::uint32_t, std::uint32_t> writes[] = {
        {0x4000, 512}, {0x4100, 512}, {0x1FFFF, 1}};
    unsigned seed = 10;
    for (const auto& [offset, length] : writes) {
        const auto data = patternBytes(length, ++seed);
        const Outcome out = writeFlash(offset, data);
        EXPECT_EQ(out.status, 0u) << std::hex << offset;
        EXPECT_EQ(out.result0, length);
        originalFlash = originalWith(offset, data);
        EXPECT_EQ(flash(), originalFlash) << std::hex << "write at 0x" << offset;
    }

    // Other regions' locks (lock bit 15 sits in FSR bit 31) are no error, and a controller still
    // busy with a command from before the applet started only delays the write.
    target.setLockBit(3, true);
    target.setLockBit(15, true);
    target.setBusyPolls(50);
    target.writeWord(Target::fcmd, 0xA5000000); // NOP
    target.clearCommands();
    const auto data = patternBytes(512, 13);
    EXPECT_EQ(writeFlash(0x4000, data).status, 0u);
    originalFlash = originalWith(0x4000, data);
    EXPECT_EQ(flash(), originalFlash);
    expectControllerUsedProperly();

    // A controller that never becomes ready: one command went out (CPB), nothing was erased or
    // written after it hung.
    target.setBusyPolls(UINT64_MAX);
    target.clearCommands();
    EXPECT_EQ(writeFlash(0x4200, patternBytes(512, 8)).status, 2u);
    EXPECT_EQ(target.commands().size(), 1u);
    EXPECT_EQ(flash(), originalFlash);
}

TEST_F(AppletEmulation, RefusesWritesIntoTheBootloaderOrPastTheFlashAndUnknownCommands) {
    // The bootloader's regions are unlocked here so that only the offset check can refuse.
    target.setLockBit(0, false);
    target.setLockBit(1, false);
    const std::pair<std::uint32_t, std::uint32_t> writes[] = {
        {0x0, 512},     {0x3E00, 512}, {0x3FFF, 1},      {0x3FFF, 2},
        {0x1FF00, 512}, {0x20000, 1},  {0xFFFFFF00, 512}};
    for (const auto& [offset, length] : writes) {
        const Outcome out = writeFlash(offset, patternBytes(length, 5));
        EXPECT_EQ(out.status, 2u) << std::hex << "write at 0x" << offset;
        EXPECT_EQ(out.result0, 0u);
    }
    for (std::uint32_t command : {0x01u, 0x03u, 0x04u, 0x44u, 0x12345678u})
        EXPECT_NE(run(command, {bufferAddress, 512, 0x4000}).status, 0u) << "command " << command;
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target.commands().empty());
}

TEST_F(AppletEmulation, ALockedRegionIsRefusedUntilUnlockedAndOnlyExistingRegionsUnlock) {
    target.setLockBit(3, true);
    target.setLockBit(4, true);
    const auto data = patternBytes(512, 6);
    EXPECT_EQ(writeFlash(0x6000, data).status, 2u);
    // Starts in unlocked region 2 and ends in region 3.
    EXPECT_EQ(writeFlash(0x5F00, data).status, 2u);
    for (std::uint32_t region : {16u, 0xFFFFFFFFu})
        EXPECT_NE(run(cmdUnlock, {region}).status, 0u);
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target.commands().empty());

    EXPECT_EQ(run(cmdUnlock, {3}).status, 0u);
    EXPECT_FALSE(target.lockBit(3));
    EXPECT_TRUE(target.lockBit(4) && target.lockBit(0) && target.lockBit(1));
    ASSERT_EQ(target.commands().size(), 1u);
    EXPECT_EQ(target.commands()[0].value, 0xA5003005u) << "UP for page 48, region 3's first";
    const Outcome write = writeFlash(0x6000, data);
    EXPECT_EQ(write.status, 0u);
    EXPECT_EQ(write.result0, 512u);
    EXPECT_EQ(flash(), originalWith(0x6000, data));

    // The controller refuses once: the status says so and the region stays locked.
    target.setLockBit(5, true);
    target.failNextCommand(Target::cmdUP, 80);
    EXPECT_EQ(run(cmdUnlock, {5}).status, 5u);
    EXPECT_TRUE(target.lockBit(5));
    EXPECT_EQ(run(cmdUnlock, {5}).status, 0u);
    EXPECT_FALSE(target.lockBit(5));
    expectControllerUsedProperly();
}

TEST_F(AppletEmulation, ReportsControllerErrorsAndStopsAtTheFailingPage) {
    const auto data = patternBytes(512, 7);
    const auto page33 = std::span(originalFlash).subspan(33 * 512, 512);
    // The write covers pages 32 and 33; page 32 fails. A clean FSR afterwards must not hide the
    // error, and page 33 must not be touched any more.
    for (std::uint32_t command : {Target::cmdCPB, Target::cmdEP, Target::cmdWP}) {
        target.failNextCommand(command, 32);
        const Outcome out = writeFlash(0x4100, data);
        EXPECT_EQ(out.status, 2u) << "failed command " << command;
        EXPECT_EQ(out.result0, 512u);
        const auto now = flash();
        EXPECT_TRUE(std::equal(page33.begin(), page33.end(), now.begin() + 33 * 512));
        if (command != Target::cmdWP) {
            // Nothing was erased: the page keeps its old content.
            EXPECT_TRUE(std::equal(originalFlash.begin() + 32 * 512,
                                   originalFlash.begin() + 33 * 512, now.begin() + 32 * 512))
                << "failed command " << command;
        }
    }
    // The next write starts clean.
    EXPECT_EQ(writeFlash(0x4100, data).status, 0u);
    const auto now = flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), now.begin() + 0x4100));
    EXPECT_TRUE(std::equal(page33.begin() + 0x100, page33.end(), now.begin() + 0x4300));
    expectControllerUsedProperly();
}

// Every command, refused or not, on monitor stacks of either alignment and with interrupts masked
// or not: the applet gives the monitor back its registers, stack, frame and interrupt mask, stores
// only into its mailbox, its data, the buffer, its stack, the flash controller and the page buffer
// (a whole buffer for a page it programs), and the command word last.
TEST_F(AppletEmulation, LeavesTheMonitorAsItWasAndStoresOnlyWhereItMay) {
    struct Case {
        std::uint32_t command;
        Words args;
        std::size_t pageBufferWords; // a whole buffer of 128 words for every page programmed
    };
    target.setLockBit(6, true);
    target.write(bufferAddress, patternBytes(512, 11));
    const std::uint32_t buffer = bufferAddress;
    const auto allowed = [&](const Target::MemoryWrite& w) {
        auto within = [&](std::uint32_t begin, std::uint32_t end) {
            return w.address >= begin && w.address + w.size <= end;
        };
        return within(mailbox, mailbox + 9 * 4) || within(imageEnd, buffer + bufferSize) ||
               within(Target::monitorStackPointer - 0x100 - stackAllowance,
                      Target::monitorStackPointer) ||
               within(Target::flashBase, Target::flashBase + Target::flashSize) ||
               within(Target::flashcalwBase, Target::flashcalwBase + 0x100);
    };
    // A monitor stack that is only word aligned exercises the 8-byte alignment on entry.
    for (const auto& [stackPointer, masked] : {std::pair{0x20007F00u, false},
                                               {0x20007EFCu, false},
                                               {0x20007F00u, true},
                                               {0x20007EF4u, true}}) {
        for (const auto& c :
             {Case{cmdInit, {0, 0, 0}, 0}, Case{cmdWrite, {buffer, 512, 0x7F00}, 256},
              Case{cmdWrite, {buffer, 512, 0xC000}, 0}, Case{cmdWrite, {buffer, 512, 0x100}, 0},
              Case{cmdUnlock, {9}, 0}, Case{0x77, {}, 0}}) {
            load(c.command, c.args);
            target.clearCpuWrites();
            const auto r = target.call(entry, budget, stackPointer, masked);
            SCOPED_TRACE(::testing::Message() << "command " << c.command << std::hex << " SP 0x"
                                              << stackPointer << " masked " << masked);
            EXPECT_TRUE(r.returned) << r.error;
            EXPECT_TRUE(r.calleeSavedRestored && r.stackPointerRestored && r.monitorFrameIntact &&
                        r.interruptMaskRestored);
            EXPECT_EQ(target.readWord(mailbox), ~c.command);
            const auto& writes = target.cpuWrites();
            ASSERT_FALSE(writes.empty());
            for (const auto& w : writes) {
                EXPECT_TRUE(allowed(w)) << " wrote 0x" << w.address;
            }
            EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                                    [](const auto& w) { return w.address < Target::flashSize; }),
                      static_cast<std::ptrdiff_t>(c.pageBufferWords));
            EXPECT_EQ(writes.back().address, mailbox);
            EXPECT_EQ(writes.back().size, 4u);
        }
    }
    ASSERT_FALSE(target.commands().empty());
    expectControllerUsedProperly();
}

} // namespace
} // namespace pelwick::testing
