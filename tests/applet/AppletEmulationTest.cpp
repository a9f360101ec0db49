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
constexpr std::uint32_t mailboxEnd = mailbox + 9 * 4;
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

struct Info {
    std::uint32_t memorySize, bufferAddress, bufferSize, lockWord, pageSize, pageCount, appStart;
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
        info = readInfo();
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

    Info readInfo() const {
        return {target.readWord(mailbox + 0x08), target.readWord(mailbox + 0x0C),
                target.readWord(mailbox + 0x10), target.readWord(mailbox + 0x14),
                target.readWord(mailbox + 0x18), target.readWord(mailbox + 0x1C),
                target.readWord(mailbox + 0x20)};
    }

    Outcome writeFlash(std::uint32_t offset, const Bytes& data) {
        target.write(info.bufferAddress, data);
        return run(cmdWrite, {info.bufferAddress, static_cast<std::uint32_t>(data.size()), offset});
    }

    Bytes flash() const { return target.read(0, Target::flashSize); }

    // The flash as it must be after the bytes at offset were replaced by data.
    Bytes originalWith(std::uint32_t offset, const Bytes& data) const {
        auto expected = originalFlash;
        std::copy(data.begin(), data.end(), expected.begin() + offset);
        return expected;
    }

    bool allowedWrite(const Target::MemoryWrite& w) const {
        auto within = [&](std::uint32_t begin, std::uint32_t end) {
            return w.address >= begin && w.address + w.size <= end;
        };
        return within(mailbox, mailboxEnd) || within(imageEnd, info.bufferAddress) ||
               within(info.bufferAddress, info.bufferAddress + info.bufferSize) ||
               within(Target::monitorStackPointer - stackAllowance, Target::monitorStackPointer) ||
               within(Target::flashBase, Target::flashBase + Target::flashSize) ||
               within(Target::flashcalwBase, Target::flashcalwBase + 0x100);
    }

    void expectControllerUsedProperly() const {
        EXPECT_EQ(target.commandsWhileBusy(), 0) << "a command was written before FRDY";
        EXPECT_EQ(target.pageBufferMisuse(), 0) << "page buffer written other than by words";
        for (const auto& c : target.commands()) {
            EXPECT_EQ(c.value >> 24, 0xA5u);
            EXPECT_TRUE(c.interruptsMasked) << std::hex << "FCMD 0x" << c.value;
        }
    }

    Target target;
    Bytes originalFlash;
    std::uint32_t entry = 0;
    Info info{};
};

TEST_F(AppletEmulation, ImageHeaderAndMailboxAreWhereTheMonitorAndHostExpectThem) {
    const auto image = sambaAppletImage();
    ASSERT_EQ(image.size(), 2652u);
    EXPECT_EQ(target.readWord(loadAddress), 0x20007FF0u);
    EXPECT_EQ(entry & 1u, 1u);
    EXPECT_GE(entry & ~1u, mailboxEnd);
    EXPECT_LT(entry & ~1u, imageEnd);
    EXPECT_TRUE(std::all_of(image.begin() + 0x40, image.begin() + 0x64,
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(AppletEmulation, InitReportsTheFlashGeometryAndABufferThatOverlapsNothing) {
    EXPECT_EQ(info.memorySize, 0x20000u);
    EXPECT_EQ(info.pageSize, 512u);
    EXPECT_EQ(info.pageCount, 256u);
    EXPECT_EQ(info.appStart, 32u);
    EXPECT_EQ(info.lockWord, 16u << 16 | 0x2000u);
    EXPECT_GE(info.bufferSize, 512u);
    EXPECT_EQ(info.bufferAddress % 8, 0u);
    EXPECT_GE(info.bufferAddress, imageEnd);
    EXPECT_LE(info.bufferAddress + info.bufferSize, Target::monitorStackPointer - stackAllowance);

    // Whatever RAM the applet uses for itself lies outside the buffer: a buffer the host filled
    // survives a WRITE and INIT untouched and is what lands in flash.
    const auto data = patternBytes(512, 2);
    EXPECT_EQ(writeFlash(0x8000, data).status, 0u);
    EXPECT_EQ(run(cmdInit, {0, 0, 0}).status, 0u);
    EXPECT_EQ(target.read(info.bufferAddress, 512), data);
    EXPECT_EQ(flash(), originalWith(0x8000, data));
    for (const auto& w : target.cpuWrites()) {
        EXPECT_FALSE(w.address < info.bufferAddress + info.bufferSize &&
                     w.address + w.size > info.bufferAddress)
            << std::hex << "applet wrote its own buffer at 0x" << w.address;
    }
}

TEST_F(AppletEmulation, InitDecodesTheFlashSizeFieldOfFpr) {
    const std::uint32_t kib[16] = {4,   8,   16,  32,  48,  64,   96,   128,
                                   192, 256, 384, 512, 768, 1024, 2048, 0};
    for (std::uint32_t fsz = 0; fsz < 16; ++fsz) {
        const std::uint32_t bytes = kib[fsz] << 10;
        // Bits above FSZ (page size and others) must not change the decoded size.
        for (std::uint32_t high : {0x400u, 0xFFFFFFF0u}) {
            target.setFlashParameter(high | fsz);
            EXPECT_EQ(run(cmdInit, {0, 0, 0}).status, 0u);
            const Info got = readInfo();
            EXPECT_EQ(got.memorySize, bytes) << "FSZ " << fsz;
            EXPECT_EQ(got.pageCount, bytes / 512) << "FSZ " << fsz;
            EXPECT_EQ(got.lockWord & 0xFFFF, (bytes / 16) & 0xFFFF) << "FSZ " << fsz;
        }
    }
}

TEST_F(AppletEmulation, WritesKeepTheRestOfEveryPageTheyTouch) {
    struct Case {
        std::uint32_t offset, length;
    };
    unsigned seed = 10;
    // A whole page at the application start, inside one page at odd edges, across a page
    // boundary, a whole page off its boundary, and three bytes straddling two pages.
    for (const Case c : {Case{0x4000, 512}, Case{0x4025, 100}, Case{0x51F9, 14}, Case{0x4100, 512},
                         Case{0x1FDFF, 3}, Case{0x1FFFF, 1}}) {
        const auto data = patternBytes(c.length, ++seed);
        const Outcome out = writeFlash(c.offset, data);
        EXPECT_EQ(out.status, 0u) << std::hex << c.offset;
        EXPECT_EQ(out.result0, c.length);
        originalFlash = originalWith(c.offset, data);
        EXPECT_EQ(flash(), originalFlash) << std::hex << "write at 0x" << c.offset;
    }
    expectControllerUsedProperly();
}

TEST_F(AppletEmulation, OtherRegionsLocksAndABusyControllerOnlyDelayAWrite) {
    // Lock bit 15 sits in FSR bit 31; it must not read as an error either.
    target.setLockBit(3, true);
    target.setLockBit(15, true);
    // The controller is still busy with a command from before the applet started.
    target.setBusyPolls(50);
    target.writeWord(Target::fcmd, 0xA5000000); // NOP
    target.clearCommands();
    const auto data = patternBytes(512, 13);
    EXPECT_EQ(writeFlash(0x4000, data).status, 0u);
    EXPECT_EQ(flash(), originalWith(0x4000, data));
    expectControllerUsedProperly();

    // A controller that never becomes ready: one command went out (CPB), nothing was erased or
    // written after it hung.
    target.setBusyPolls(UINT64_MAX);
    target.clearCommands();
    EXPECT_EQ(writeFlash(0x4200, patternBytes(512, 8)).status, 2u);
    EXPECT_EQ(target.commands().size(), 1u);
    EXPECT_EQ(flash(), originalWith(0x4000, data));
}

TEST_F(AppletEmulation, RefusesWritesIntoTheBootloaderOrPastTheFlash) {
    struct Case {
        std::uint32_t offset, length;
    };
    // The bootloader's regions are unlocked here so that only the offset check can refuse.
    target.setLockBit(0, false);
    target.setLockBit(1, false);
    for (const Case c : {Case{0x0, 512}, Case{0x3E00, 512}, Case{0x3FFF, 1}, Case{0x3FFF, 2},
                         Case{0x1FF00, 512}, Case{0x20000, 1}, Case{0xFFFFFF00, 512}}) {
        const Outcome out = writeFlash(c.offset, patternBytes(c.length, 5));
        EXPECT_EQ(out.status, 2u) << std::hex << "write at 0x" << c.offset;
        EXPECT_EQ(out.result0, 0u);
    }
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target.commands().empty());
}

TEST_F(AppletEmulation, ALockedRegionIsRefusedUntilUnlocked) {
    target.setLockBit(3, true);
    target.setLockBit(4, true);
    const auto data = patternBytes(512, 6);

    EXPECT_EQ(writeFlash(0x6000, data).status, 2u);
    // Starts in unlocked region 2 and ends in region 3.
    EXPECT_EQ(writeFlash(0x5F00, data).status, 2u);
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target.commands().empty());

    EXPECT_EQ(run(cmdUnlock, {3}).status, 0u);
    EXPECT_FALSE(target.lockBit(3));
    EXPECT_TRUE(target.lockBit(4));
    EXPECT_TRUE(target.lockBit(0));
    ASSERT_EQ(target.commands().size(), 1u);
    EXPECT_EQ(target.commands()[0].value, 0xA5003005u) << "UP for page 48, region 3's first";

    const Outcome write = writeFlash(0x6000, data);
    EXPECT_EQ(write.status, 0u);
    EXPECT_EQ(write.result0, 512u);
    EXPECT_EQ(flash(), originalWith(0x6000, data));
    expectControllerUsedProperly();
}

TEST_F(AppletEmulation, UnlockFailsForARegionThatDoesNotExistOrThatTheControllerRefuses) {
    for (std::uint32_t region : {16u, 0xFFFFFFFFu})
        EXPECT_NE(run(cmdUnlock, {region}).status, 0u);
    EXPECT_TRUE(target.commands().empty());
    EXPECT_TRUE(target.lockBit(0) && target.lockBit(1));

    target.setLockBit(5, true);
    target.failNextCommand(Target::cmdUP, 80);
    EXPECT_EQ(run(cmdUnlock, {5}).status, 5u);
    EXPECT_TRUE(target.lockBit(5));
    EXPECT_EQ(run(cmdUnlock, {5}).status, 0u);
    EXPECT_FALSE(target.lockBit(5));
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

TEST_F(AppletEmulation, RejectsUnknownCommandsAndStillCompletesThem) {
    for (std::uint32_t command : {0x01u, 0x03u, 0x04u, 0x44u, 0x12345678u})
        EXPECT_NE(run(command, {0x20003000, 512, 0x4000}).status, 0u) << "command " << command;
    EXPECT_EQ(flash(), originalFlash);
    EXPECT_TRUE(target.commands().empty());
}

TEST_F(AppletEmulation, ReturnsToTheMonitorWithItsRegistersStackAndInterruptMask) {
    struct Case {
        std::uint32_t stackPointer;
        bool masked;
    };
    target.write(info.bufferAddress, patternBytes(512, 9));
    // A monitor stack that is only word aligned exercises the 8-byte alignment on entry.
    for (const Case c : {Case{0x20007F00, false}, Case{0x20007EFC, false}, Case{0x20007F00, true},
                         Case{0x20007EF4, true}}) {
        for (const auto& [command, args] :
             {std::pair{cmdInit, Words{0, 0, 0}},
              std::pair{cmdWrite, Words{info.bufferAddress, 512, 0x7F00}},
              std::pair{cmdWrite, Words{info.bufferAddress, 512, 0x100}},
              std::pair{cmdUnlock, Words{9}}, std::pair{0x77u, Words{}}}) {
            load(command, args);
            const auto r = target.call(entry, budget, c.stackPointer, c.masked);
            const auto where = ::testing::Message() << "command " << command << std::hex << " SP 0x"
                                                    << c.stackPointer << " masked " << c.masked;
            EXPECT_TRUE(r.returned) << where << " " << r.error;
            EXPECT_TRUE(r.calleeSavedRestored) << where;
            EXPECT_TRUE(r.stackPointerRestored) << where;
            EXPECT_TRUE(r.monitorFrameIntact) << where;
            EXPECT_TRUE(r.interruptMaskRestored) << where;
            EXPECT_EQ(target.readWord(mailbox), ~command) << where;
        }
    }
    expectControllerUsedProperly();
    // The C code runs on an 8-byte aligned stack whatever the monitor's alignment was.
    ASSERT_FALSE(target.commands().empty());
    for (const auto& c : target.commands())
        EXPECT_EQ(c.stackPointer % 8, 0u) << std::hex << "SP 0x" << c.stackPointer;
}

TEST_F(AppletEmulation, WritesOnlyItsMailboxDataStackAndTheFlashControllerAndTheCommandWordLast) {
    struct Case {
        std::uint32_t command;
        Words args;
        std::size_t pageBufferWords; // a whole buffer of 128 words for every page programmed
    };
    target.setLockBit(6, true);
    target.write(info.bufferAddress, patternBytes(512, 11));
    const std::uint32_t buffer = info.bufferAddress;
    for (const auto& c :
         {Case{cmdInit, {0, 0, 0}, 0}, Case{cmdWrite, {buffer, 512, 0x4A10}, 256},
          Case{cmdWrite, {buffer, 512, 0xC000}, 0}, Case{cmdWrite, {buffer, 512, 0x2000}, 0},
          Case{cmdUnlock, {6}, 0}, Case{0x03, {}, 0}}) {
        load(c.command, c.args);
        target.clearCpuWrites();
        ASSERT_TRUE(target.call(entry, budget).returned);

        const auto& writes = target.cpuWrites();
        ASSERT_FALSE(writes.empty());
        for (const auto& w : writes) {
            EXPECT_TRUE(allowedWrite(w))
                << std::hex << "command 0x" << c.command << " wrote 0x" << w.address;
        }
        EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                                [](const auto& w) { return w.address < Target::flashSize; }),
                  static_cast<std::ptrdiff_t>(c.pageBufferWords))
            << "command " << c.command;
        EXPECT_EQ(writes.back().address, mailbox) << "command " << c.command;
        EXPECT_EQ(writes.back().size, 4u);
        EXPECT_EQ(target.readWord(mailbox), ~c.command);
    }
}

// The flash controller model itself, driven by tiny hand-assembled Thumb routines, so that the
// applet tests above rest on a model that behaves as described.
class FlashControllerModel : public ::testing::Test {
protected:
    static constexpr std::uint32_t code = 0x20001000;
    static constexpr std::uint32_t scratch = 0x20001100;

    // Runs "*dst = *src" on the CPU, as a word or a byte access.
    void cpuCopy(std::uint32_t src, std::uint32_t dst, bool byte = false) {
        const std::uint16_t load = byte ? 0x7800 : 0x6800;  // ldr(b) r0, [r0]
        const std::uint16_t store = byte ? 0x7008 : 0x6008; // str(b) r0, [r1]
        const std::uint16_t routine[] = {0x4802, 0x4903, load, store, 0x4770, 0xBF00};
        for (std::uint32_t i = 0; i < 6; ++i) {
            target.writeByte(code + 2 * i, static_cast<std::uint8_t>(routine[i]));
            target.writeByte(code + 2 * i + 1, static_cast<std::uint8_t>(routine[i] >> 8));
        }
        target.writeWord(code + 12, src);
        target.writeWord(code + 16, dst);
        ASSERT_TRUE(target.call(code, 100).returned);
    }
    void cpuStore(std::uint32_t address, std::uint32_t value) {
        target.writeWord(scratch, value);
        cpuCopy(scratch, address);
    }
    std::uint32_t cpuLoad(std::uint32_t address) {
        cpuCopy(address, scratch);
        return target.readWord(scratch);
    }
    void waitReady() {
        while ((cpuLoad(Target::fsr) & Target::fsrFRDY) == 0) {
        }
    }
    void command(std::uint32_t cmd, std::uint32_t page) {
        cpuStore(Target::fcmd, 0xA5000000 | page << 8 | cmd);
        waitReady();
    }

    Target target;
};

TEST_F(FlashControllerModel, ProgramsThroughThePageBufferWithEraseAndAndSemantics) {
    const std::uint32_t page = 40, base = page * 512;
    command(Target::cmdCPB, page);
    cpuStore(base + 8, 0x12345678);
    EXPECT_EQ(cpuLoad(base + 8), 0xFFFFFFFFu) << "stores go to the page buffer, not the flash";
    command(Target::cmdWP, page);
    EXPECT_EQ(target.readWord(base + 8), 0x12345678u);
    EXPECT_EQ(target.readWord(base + 12), 0xFFFFFFFFu);

    // Without an erase, programming can only clear bits; without CPB the buffer keeps its data.
    cpuStore(base + 8, 0xFFFF0000);
    command(Target::cmdWP, page);
    EXPECT_EQ(target.readWord(base + 8), 0x12340000u);
    command(Target::cmdEP, page);
    EXPECT_EQ(target.readWord(base + 8), 0xFFFFFFFFu);
    command(Target::cmdCPB, page);
    cpuStore(base + 12, 0xABCDEF01);
    command(Target::cmdWP, page);
    EXPECT_EQ(target.readWord(base + 8), 0xFFFFFFFFu);
    EXPECT_EQ(target.readWord(base + 12), 0xABCDEF01u);

    // The byte routine is uploaded over the word routine that ran before.
    cpuCopy(scratch, base, true);
    EXPECT_EQ(target.pageBufferMisuse(), 1);
}

TEST_F(FlashControllerModel, FlagsLockAndKeyErrorsUntilFsrIsReadOrTheNextCommand) {
    const std::uint32_t page = 100; // region 6
    target.setLockBit(6, true);
    const auto before = target.read(page * 512, 512);
    cpuStore(Target::fcmd, 0xA5000000 | page << 8 | Target::cmdEP);
    EXPECT_EQ(target.readWord(Target::fsr) & Target::fsrLOCKE, Target::fsrLOCKE)
        << "host reads have no side effects";
    std::uint32_t status = 0;
    while (((status = cpuLoad(Target::fsr)) & Target::fsrLOCKE) == 0) {
    }
    EXPECT_EQ(status >> 16, 1u << 6);
    EXPECT_EQ(cpuLoad(Target::fsr) & Target::fsrLOCKE, 0u) << "cleared by the read";
    EXPECT_EQ(target.read(page * 512, 512), before);

    cpuStore(Target::fcmd, 0x5A000000 | page << 8 | Target::cmdUP);
    EXPECT_TRUE(target.lockBit(6)) << "wrong key";
    EXPECT_EQ(target.readWord(Target::fsr) & Target::fsrPROGE, Target::fsrPROGE);
    waitReady();
    command(Target::cmdUP, page);
    EXPECT_EQ(target.readWord(Target::fsr) & (Target::fsrPROGE | Target::fsrLOCKE), 0u);
    EXPECT_FALSE(target.lockBit(6));
    command(Target::cmdLP, 17);
    EXPECT_TRUE(target.lockBit(1));

    // A command written while the controller is still busy is refused.
    cpuStore(Target::fcmd, 0xA5000000 | 20 << 8 | Target::cmdUP);
    cpuStore(Target::fcmd, 0xA5000000 | 20 << 8 | Target::cmdUP);
    EXPECT_EQ(target.commandsWhileBusy(), 1);
}

TEST_F(FlashControllerModel, AnswersIdentificationReadsAndStopsARunawayAtTheBudget) {
    EXPECT_EQ(target.readWord(Target::chipidCIDR), 0xAB0A07E0u);
    EXPECT_EQ(target.readWord(Target::chipidEXID), 0x0400000Fu);
    EXPECT_EQ(target.readWord(Target::cpuid), 0x410FC241u);
    EXPECT_EQ(cpuLoad(Target::fpr), 0x407u);

    target.writeByte(code, 0xFE); // b .
    target.writeByte(code + 1, 0xE7);
    const auto r = target.call(code, 5000);
    EXPECT_FALSE(r.returned);
    EXPECT_EQ(r.instructions, 5000u);
}

} // namespace
} // namespace pelwick::testing
