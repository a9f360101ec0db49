#include "sim/SimulatedCalculatorTransport.h"

#include "device/FlasherError.h"
#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "samba/SambaClient.h"
#include "util/Format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t kMailbox = 0x20002040;

// Drives the simulated calculator with the monitor's own commands.
struct Chip {
    SimulatedCalculatorTransport sim;

    explicit Chip(bool preload = true) : sim(0, preload, [](double) {}) {}

    void send(const std::string& text) { sim.write(Bytes(text.begin(), text.end())); }
    void poke(std::uint32_t address, std::uint32_t value) {
        send(formatString("W%08X,%08X#", address, value));
    }
    std::uint32_t peek(std::uint32_t address) {
        send(formatString("w%08X,4#", address));
        const Bytes reply = sim.read(4, 0);
        EXPECT_EQ(reply.size(), 4u);
        return reply.size() == 4 ? static_cast<std::uint32_t>(reply[0] | reply[1] << 8 |
                                                              reply[2] << 16 | reply[3] << 24)
                                 : 0;
    }
    // Puts a command and its arguments in the mailbox and starts the applet.
    void run(std::uint32_t command, std::vector<std::uint32_t> arguments = {}) {
        poke(kMailbox, command);
        poke(kMailbox + 4, 0);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            poke(kMailbox + 8 + 4 * static_cast<std::uint32_t>(i), arguments[i]);
        }
        send("G20002000#");
    }
    std::uint32_t status() { return peek(kMailbox + 4); }
    std::uint8_t byteAt(std::uint32_t address) { return static_cast<std::uint8_t>(peek(address)); }
};

TEST(SimulatedCalculator, StartsAsAnATSAM4LC2CWithItsApplication) {
    Chip preloaded(true);
    EXPECT_EQ(preloaded.peek(0x400E0740), 0xAB0A07E0u);
    EXPECT_EQ(preloaded.peek(0x400E0744), 0x0400000Fu);
    EXPECT_EQ(preloaded.peek(0xE000ED00), 0x410FC241u);
    EXPECT_EQ(preloaded.peek(0x400A0008), 0x00000001u);
    preloaded.send("R00004000,0001C000#");
    Bytes expected(FlashLayout::applicationSize, 0x00);
    expected[0] = expected[1] = 0x90;
    EXPECT_TRUE(preloaded.sim.read(1u << 20, 0) == expected);
    // The bootloader, RAM and other registers were never written.
    EXPECT_EQ(preloaded.peek(0x3FFC), 0xFFFFFFFFu);
    EXPECT_EQ(preloaded.peek(0x20000000), 0xFFFFFFFFu);
    EXPECT_EQ(preloaded.sim.memory().size(), FlashLayout::applicationSize + 16);

    Chip blank(false);
    blank.send("R00004000,0001C000#");
    EXPECT_TRUE(blank.sim.read(1u << 20, 0) == Bytes(FlashLayout::applicationSize, 0xFF));
    EXPECT_EQ(blank.sim.memory().size(), 16u);
}

TEST(SimulatedCalculator, AppletModelAnswersThroughTheMailbox) {
    Chip chip;
    chip.run(0x00);
    EXPECT_EQ(chip.peek(kMailbox), 0xFFFFFFFFu);
    EXPECT_EQ(chip.status(), 0u);
    std::vector<std::uint32_t> results;
    for (std::uint32_t offset = 0x08; offset <= 0x20; offset += 4) {
        results.push_back(chip.peek(kMailbox + offset));
    }
    EXPECT_THAT(results,
                ElementsAre(0x00020000u, 0x20002C00u, 0x200u, 0x00102000u, 0x200u, 0x100u, 0x20u));

    // WRITE copies the RAM buffer into flash, but never below the application region.
    chip.poke(0x20002C00, 0x44332211);
    chip.run(0x02, {0x20002C00, 8, 0x3E00});
    EXPECT_EQ(chip.status(), 2u);
    EXPECT_EQ(chip.peek(kMailbox + 8), 0u);
    EXPECT_EQ(chip.peek(0x3E00), 0xFFFFFFFFu);
    chip.run(0x02, {0x20002C00, 8, 0x4000});
    EXPECT_EQ(chip.status(), 0u);
    EXPECT_EQ(chip.peek(kMailbox + 8), 8u);
    EXPECT_EQ(chip.peek(kMailbox), ~0x02u);
    EXPECT_EQ(chip.peek(0x4000), 0x44332211u);
    EXPECT_EQ(chip.peek(0x4004), 0xFFFFFFFFu); // buffer bytes never written copy as 0xFF
    // A count no buffer can have is refused without touching memory.
    const std::size_t entries = chip.sim.memory().size();
    chip.run(0x02, {0x20002C00, 0xFFFFFFFF, 0x4000});
    EXPECT_EQ(chip.status(), 2u);
    chip.run(0x03, {0x20002C00, 0xFFFFFFFF, 0x4000});
    EXPECT_EQ(chip.status(), 0x0Fu);
    EXPECT_EQ(chip.sim.memory().size(), entries);

    // READ copies flash into the buffer; UNLOCK always succeeds.
    chip.run(0x03, {0x20003000, 4, 0x4000});
    EXPECT_EQ(chip.status(), 0u);
    EXPECT_EQ(chip.peek(0x20003000), 0x44332211u);
    chip.run(0x05, {7});
    EXPECT_EQ(chip.status(), 0u);

    // ERASE PAGE protects the bootloader's 32 pages.
    chip.poke(31 * 512, 0x11);
    chip.run(0x44, {31});
    EXPECT_EQ(chip.status(), 4u);
    EXPECT_EQ(chip.byteAt(31 * 512), 0x11);
    chip.run(0x44, {32});
    EXPECT_EQ(chip.status(), 0u);
    chip.send("R00004000,00000200#");
    EXPECT_TRUE(chip.sim.read(4096, 0) == Bytes(512, 0xFF));
    EXPECT_EQ(chip.byteAt(0x4200), 0x00);
    chip.run(0x44, {0x00FFFFFF}); // beyond the address space: no effect, no failure
    EXPECT_EQ(chip.status(), 0u);

    // Commands the applet does not know.
    chip.run(0x04);
    EXPECT_EQ(chip.status(), 0x0Fu);
    EXPECT_EQ(chip.peek(kMailbox), 0xFFFFFFFBu);
    chip.run(0x01);
    EXPECT_EQ(chip.status(), 0x0Fu);

    // A jump anywhere else does nothing, even with a command waiting.
    chip.poke(kMailbox, 0x00);
    chip.poke(kMailbox + 4, 0x1234);
    chip.send("G20000000#");
    EXPECT_EQ(chip.peek(kMailbox), 0u);
    EXPECT_EQ(chip.status(), 0x1234u);
}

TEST(SimulatedCalculator, FlashControllerErasesPagesAndReportsReady) {
    Chip chip;
    chip.poke(0x400A0008, 0x8);        // as if an error had been reported
    chip.poke(0x400A0004, 0xA5000001); // write page: only FSR changes
    EXPECT_EQ(chip.peek(0x400A0008), 1u);
    EXPECT_EQ(chip.peek(0x400A0004), 0xA5000001u);
    EXPECT_EQ(chip.byteAt(0x4000), 0x90);

    chip.poke(0xA00, 0x12345678);
    chip.poke(0xBFC, 0x12345678);
    chip.poke(0xC00, 0x12345678);
    chip.poke(0x400A0004, 0xA5000502); // erase page 5: 0xA00 … 0xBFF
    EXPECT_EQ(chip.peek(0xA00), 0xFFFFFFFFu);
    EXPECT_EQ(chip.peek(0xBFC), 0xFFFFFFFFu);
    EXPECT_EQ(chip.peek(0xC00), 0x12345678u);
    EXPECT_EQ(chip.peek(0x400A0008), 1u);
    chip.poke(0x400A0004, 0xA5002002); // erase page 32 of the application
    EXPECT_EQ(chip.byteAt(0x4000), 0xFF);
}

TEST(SimulatedCalculator, SambaClientConnectsAndIdentifiesIt) {
    auto sim = std::make_shared<SimulatedCalculatorTransport>(0, true);
    SambaClient client(std::make_unique<SharedTransport>(sim));
    client.connect(3.0);
    EXPECT_THAT(client.commandTrace(), ElementsAre("N#", "V#"));
    EXPECT_EQ(client.version(), "v1.1 Dec 15 2013 19:03:14");

    const DeviceIdentity identity = FlashCalw(client, 0).identify();
    EXPECT_EQ(identity.name, "ATSAM4LC2C");
    EXPECT_EQ(identity.flashBytes, 0x20000);
    EXPECT_TRUE(identity.isSupported15C());

    client.write(0x20001000, Bytes{0x00, 0x1F, 0x3E, 0x5D});
    // A closed connection leaves the calculator's memory for the next one.
    client.close();
    SambaClient next(std::make_unique<SharedTransport>(sim));
    next.connect(3.0);
    EXPECT_EQ(next.readWord(0x20001000, 3.0), 0x5D3E1F00u);
    EXPECT_EQ(next.read(0x4000, 6000, 3.0)[1], 0x90);
}

} // namespace
} // namespace pelwick
