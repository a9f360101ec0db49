#include "sim/SimulatedCalculatorTransport.h"

#include "device/FlasherError.h"
#include "flash/FlashLayout.h"
#include "support/FlasherErrorOf.h"
#include "util/Format.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using testing::flasherErrorOf;

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
    FlasherError failureOf(const std::string& text) {
        return flasherErrorOf([&] { send(text); });
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
    // Runs an applet command through the mailbox and returns its status.
    std::uint32_t run(std::uint32_t command, std::vector<std::uint32_t> arguments = {}) {
        poke(kMailbox, command);
        poke(kMailbox + 4, 0);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            poke(kMailbox + 8 + 4 * static_cast<std::uint32_t>(i), arguments[i]);
        }
        send("G20002000#");
        EXPECT_EQ(peek(kMailbox), ~command);
        return peek(kMailbox + 4);
    }
};

// (Commands and payloads split or joined by the line are served over a terminal in the server's
// tests.)
TEST(SimulatedMonitor, ARejectedCommandKeepsEarlierRepliesAndLeavesLaterCommands) {
    Calculator c;
    c.send("V#");
    EXPECT_EQ(c.failureOf("Q#N#"), FlasherError::sambaProtocol("unknown command Q"));
    EXPECT_EQ(c.take(), bytes("v1.1 Dec 15 2013 19:03:14\r\n"));
    c.send("");
    EXPECT_EQ(c.take(), bytes("\r\n"));
    for (const auto& [command, detail] : std::vector<std::pair<std::string, std::string>>{
             {"Vx#", "unknown command Vx"},
             {"W1,2,3#", "bad command W1,2,3"},
             {"W0x10,0#", "bad command W0x10,0"},
             {"w100000000,4#", "bad address in w100000000,4"},
             {"G#", "bad address in G"}}) {
        EXPECT_EQ(c.failureOf(command), FlasherError::sambaProtocol(detail));
    }
}

TEST(SimulatedMonitor, RefusesHostileLengthsWithoutAllocatingOrPausing) {
    Calculator c(0.01);
    const std::size_t entries = c.sim.memory().size();
    for (const std::string command :
         {"R00000000,FFFFFFFF", "S00000000,FFFFFFFF", "R00000000,00100001"}) {
        EXPECT_EQ(c.failureOf(command + "#"),
                  FlasherError::sambaProtocol("bad command " + command));
    }
    EXPECT_TRUE(c.sleeps.empty());
    // The refused send left no payload pending: what follows is a command again.
    c.send("w400A0008,4#");
    EXPECT_EQ(c.take(), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(c.sim.memory().size(), entries);
    // One mebibyte is still served.
    c.send("R00000000,00100000#");
    EXPECT_EQ(c.take().size(), 1u << 20);
}

TEST(SimulatedCalculator, AppletModelAnswersThroughTheMailboxAndKeepsTheBootloader) {
    Calculator chip;
    // (What INIT reports is what every flash against the simulator runs on.) WRITE copies the RAM
    // buffer into flash, but never below the application region.
    chip.poke(0x20002C00, 0x44332211);
    EXPECT_EQ(chip.run(0x02, {0x20002C00, 8, 0x3E00}), 2u);
    EXPECT_EQ(chip.peek(kMailbox + 8), 0u);
    EXPECT_EQ(chip.peek(0x3E00), 0xFFFFFFFFu);
    EXPECT_EQ(chip.run(0x02, {0x20002C00, 8, 0x4000}), 0u);
    EXPECT_EQ(chip.peek(kMailbox + 8), 8u);
    EXPECT_EQ(chip.peek(0x4000), 0x44332211u);
    EXPECT_EQ(chip.peek(0x4004), 0xFFFFFFFFu); // buffer bytes never written copy as 0xFF
    // A count no buffer can have is refused without touching memory.
    const std::size_t entries = chip.sim.memory().size();
    EXPECT_EQ(chip.run(0x02, {0x20002C00, 0xFFFFFFFF, 0x4000}), 2u);
    EXPECT_EQ(chip.sim.memory().size(), entries);

    // UNLOCK succeeds; commands the applet does not know fail.
    EXPECT_EQ(chip.run(0x05, {7}), 0u);
    EXPECT_EQ(chip.run(0x04), 0x0Fu);
}

} // namespace
} // namespace pelwick
