#include "sim/SimulatedCalculatorTransport.h"

#include "device/FlasherError.h"
#include "flash/FlashLayout.h"
#include "util/Format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t kMailbox = 0x20002040;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A simulated calculator driven with the monitor's own commands; its pauses are recorded instead
// of slept.
struct Calculator {
    std::vector<double> sleeps;
    SimulatedCalculatorTransport sim;

    explicit Calculator(double delay = 0, bool preload = true)
        : sim(delay, preload, [this](double seconds) { sleeps.push_back(seconds); }) {}

    void send(const std::string& text) { sim.write(bytes(text)); }
    Bytes take() { return sim.read(1u << 22, 3.0); }
    // The user-facing text of the failure of sending `text`.
    std::string failureOf(const std::string& text) {
        try {
            send(text);
        } catch (const FlasherError& error) {
            return error.errorDescription();
        }
        return "(no failure)";
    }
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
};

TEST(SimulatedMonitor, FramesCommandsAtTheHashWhateverTheWrites) {
    Calculator c;
    c.send("w400E0740,4#");
    EXPECT_EQ(c.take(), (Bytes{0xE0, 0x07, 0x0A, 0xAB}));

    // A command split over writes runs when its '#' arrives; two in one write both run.
    c.send("w400E");
    EXPECT_TRUE(c.take().empty());
    c.send("0744,4#wE000ED00,4#");
    EXPECT_EQ(c.take(), (Bytes{0x0F, 0x00, 0x00, 0x04, 0x41, 0xC2, 0x0F, 0x41}));

    c.send("V#");
    EXPECT_EQ(c.sim.read(64, 3), bytes("v1.1 Dec 15 2013 19:03:14\r\n"));
    c.send("T#N#");
    EXPECT_EQ(c.sim.read(2, 3), bytes("\r\n"));
    EXPECT_EQ(c.take(), bytes(">\r\n"));
    // Nothing queued: an empty answer at once, whatever the time-out.
    EXPECT_TRUE(c.sim.read(64, 100).empty());

    c.send("R20000000,00000004#");
    EXPECT_EQ(c.take(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    // Numbers: signs, either case, empty pieces dropped, extra pieces after an address ignored.
    c.send("W+20000000,,,-0#w20000000,4,junk#");
    EXPECT_EQ(c.take(), (Bytes{0, 0, 0, 0}));
    c.send("Wa0,cafe#wA0#");
    EXPECT_EQ(c.take(), (Bytes{0xFE, 0xCA, 0, 0}));
}

TEST(SimulatedMonitor, SendBlockPayloadsAndWhatWaitsBehindThem) {
    Calculator c(0.01);
    // Payload and a command behind it in one write: the bytes are stored, the command waits.
    c.send("S20001000,00000004#abcdw20001000,4#");
    EXPECT_THAT(c.sleeps, ElementsAre(0.01));
    EXPECT_TRUE(c.take().empty());
    c.send("");
    EXPECT_EQ(c.take(), bytes("abcd"));

    // A payload split over writes is stored contiguously; the pause comes with its last byte.
    c.sleeps.clear();
    c.send("S20002000,00000A5C#");
    Bytes payload(2652);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 13);
    }
    c.sim.write(ByteView(payload).first(1000));
    c.sim.write(ByteView(payload).subspan(1000, 1000));
    EXPECT_TRUE(c.sleeps.empty());
    // The rest of the payload and a command in the same write: the command runs.
    Bytes tail(payload.begin() + 2000, payload.end());
    const Bytes readBack = bytes("R20002000,00000A5C#");
    tail.insert(tail.end(), readBack.begin(), readBack.end());
    c.sim.write(tail);
    EXPECT_EQ(c.take(), payload);
    EXPECT_THAT(c.sleeps, ElementsAre(0.06, 0.06));

    // A '#' inside a payload is data, not a command end.
    c.send("S20003000,00000002###");
    c.send("w20003000,4#");
    EXPECT_EQ(c.take(), (Bytes{'#', '#', 0xFF, 0xFF}));
}

TEST(SimulatedMonitor, RejectsBadCommandsWithTheirTexts) {
    Calculator c;
    for (const auto& [command, text] : std::vector<std::pair<std::string, std::string>>{
             {"X#", "unknown command X"},
             {"Vx#", "unknown command Vx"},
             {"#", "unknown command "},
             {"W1,2,3#", "bad command W1,2,3"},
             {"W-1,0#", "bad command W-1,0"},
             {"W0x10,0#", "bad command W0x10,0"},
             {"R 1,2#", "bad command R 1,2"},
             {"wZZ,4#", "bad address in wZZ,4"},
             {"w100000000,4#", "bad address in w100000000,4"},
             {"G#", "bad address in G"}}) {
        EXPECT_EQ(c.failureOf(command), "SAM-BA protocol error: " + text);
    }

    // A failure keeps earlier replies and leaves the commands behind it for the next write.
    c.send("V#");
    EXPECT_EQ(c.failureOf("Q#N#"), "SAM-BA protocol error: unknown command Q");
    EXPECT_EQ(c.take(), bytes("v1.1 Dec 15 2013 19:03:14\r\n"));
    c.send("");
    EXPECT_EQ(c.take(), bytes("\r\n"));
}

TEST(SimulatedMonitor, RefusesHostileLengthsWithoutAllocating) {
    Calculator c(0.01);
    const std::size_t entries = c.sim.memory().size();
    for (const std::string command :
         {"R00000000,FFFFFFFF", "S00000000,FFFFFFFF", "R00000000,00100001"}) {
        EXPECT_EQ(c.failureOf(command + "#"), "SAM-BA protocol error: bad command " + command);
    }
    EXPECT_TRUE(c.sleeps.empty());
    EXPECT_TRUE(c.take().empty());
    // The refused send left no payload pending: what follows is a command again.
    c.send("w400A0008,4#");
    EXPECT_EQ(c.take(), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(c.sim.memory().size(), entries);
    // One mebibyte is still served.
    c.send("R00000000,00100000#");
    EXPECT_EQ(c.take().size(), 1u << 20);
}

TEST(SimulatedMonitor, PausesPerStartedBlockAndNeverLongerThanHalfASecond) {
    Calculator c(0.01);
    c.send("R00004000,00001000#");
    c.send("R00004000,00000001#");
    c.send("R00004000,00000201#");
    c.send("w00004000,4#W20000000,1#G20000000#S20000000,00000000#");
    c.send("S20000000,00000200#");
    c.sim.write(Bytes(512));
    EXPECT_THAT(c.sleeps, ElementsAre(0.08, 0.01, 0.02, 0.01));

    Calculator slow(1.0);
    slow.send("R00004000,00001000#");
    EXPECT_THAT(slow.sleeps, ElementsAre(0.5));

    Calculator instant(0);
    instant.send("R00004000,00001000#");
    Calculator tiny(1e-7);
    tiny.send("R00004000,00000001#");
    EXPECT_TRUE(instant.sleeps.empty());
    EXPECT_TRUE(tiny.sleeps.empty());
}

TEST(SimulatedMonitor, ClosingResetsTheLineButKeepsMemory) {
    Calculator c;
    c.send("W20000000,12345678#V#S20001000,00000010#abc");
    c.sim.close();
    EXPECT_FALSE(c.sim.closed());
    EXPECT_TRUE(c.take().empty());
    // The half-sent payload was dropped: this is a command again.
    c.send("w20000000,4#");
    EXPECT_EQ(c.take(), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(c.sim.loadWord(0x20001000), 0xFF636261u); // "abc" landed before the close

    c.sim.setClosed(true);
    EXPECT_EQ(c.failureOf("V#"), "Not connected to a programming cable.");
    EXPECT_THROW(c.sim.read(64, 0), FlasherError);
    c.sim.setClosed(false);
    c.send("V#");
    EXPECT_EQ(c.take().size(), 27u);
}

TEST(SimulatedCalculator, StartsAsAnATSAM4LC2CWithItsApplication) {
    Calculator preloaded;
    EXPECT_EQ(preloaded.peek(0x400E0740), 0xAB0A07E0u);
    EXPECT_EQ(preloaded.peek(0x400E0744), 0x0400000Fu);
    EXPECT_EQ(preloaded.peek(0xE000ED00), 0x410FC241u);
    EXPECT_EQ(preloaded.peek(0x400A0008), 0x00000001u);
    preloaded.send("R00004000,0001C000#");
    Bytes expected(FlashLayout::applicationSize, 0x00);
    expected[0] = expected[1] = 0x90;
    EXPECT_TRUE(preloaded.take() == expected);
    // The bootloader, RAM and other registers were never written.
    EXPECT_EQ(preloaded.peek(0x3FFC), 0xFFFFFFFFu);
    EXPECT_EQ(preloaded.peek(0x20000000), 0xFFFFFFFFu);
    EXPECT_EQ(preloaded.sim.memory().size(), FlashLayout::applicationSize + 16);

    Calculator blank(0, false);
    blank.send("R00004000,0001C000#");
    EXPECT_TRUE(blank.take() == Bytes(FlashLayout::applicationSize, 0xFF));
    EXPECT_EQ(blank.sim.memory().size(), 16u);
}

TEST(SimulatedCalculator, AppletModelAnswersThroughTheMailbox) {
    Calculator chip;
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
    EXPECT_EQ(chip.peek(31 * 512) & 0xFF, 0x11u);
    chip.run(0x44, {32});
    EXPECT_EQ(chip.status(), 0u);
    chip.send("R00004000,00000200#");
    EXPECT_TRUE(chip.take() == Bytes(512, 0xFF));
    EXPECT_EQ(chip.peek(0x4200) & 0xFF, 0x00u);
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
    Calculator chip;
    chip.poke(0x400A0008, 0x8);        // as if an error had been reported
    chip.poke(0x400A0004, 0xA5000001); // write page: only FSR changes
    EXPECT_EQ(chip.peek(0x400A0008), 1u);
    EXPECT_EQ(chip.peek(0x400A0004), 0xA5000001u);
    EXPECT_EQ(chip.peek(0x4000) & 0xFF, 0x90u);

    chip.poke(0xA00, 0x12345678);
    chip.poke(0xBFC, 0x12345678);
    chip.poke(0xC00, 0x12345678);
    chip.poke(0x400A0004, 0xA5000502); // erase page 5: 0xA00 … 0xBFF
    EXPECT_EQ(chip.peek(0xA00), 0xFFFFFFFFu);
    EXPECT_EQ(chip.peek(0xBFC), 0xFFFFFFFFu);
    EXPECT_EQ(chip.peek(0xC00), 0x12345678u);
    EXPECT_EQ(chip.peek(0x400A0008), 1u);
    chip.poke(0x400A0004, 0xA5002002); // erase page 32 of the application
    EXPECT_EQ(chip.peek(0x4000) & 0xFF, 0xFFu);
}

} // namespace
} // namespace pelwick
