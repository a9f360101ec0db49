#include "sim/SimulatedCalculatorTransport.h"

#include "device/FlasherError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A calculator whose pauses are recorded instead of slept.
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
    EXPECT_EQ(c.failureOf("X#"), "SAM-BA protocol error: unknown command X");
    EXPECT_EQ(c.failureOf("Vx#"), "SAM-BA protocol error: unknown command Vx");
    EXPECT_EQ(c.failureOf("#"), "SAM-BA protocol error: unknown command ");
    EXPECT_EQ(c.failureOf("W1,2,3#"), "SAM-BA protocol error: bad command W1,2,3");
    EXPECT_EQ(c.failureOf("W-1,0#"), "SAM-BA protocol error: bad command W-1,0");
    EXPECT_EQ(c.failureOf("W0x10,0#"), "SAM-BA protocol error: bad command W0x10,0");
    EXPECT_EQ(c.failureOf("R 1,2#"), "SAM-BA protocol error: bad command R 1,2");
    EXPECT_EQ(c.failureOf("wZZ,4#"), "SAM-BA protocol error: bad address in wZZ,4");
    EXPECT_EQ(c.failureOf("w100000000,4#"), "SAM-BA protocol error: bad address in w100000000,4");
    EXPECT_EQ(c.failureOf("G#"), "SAM-BA protocol error: bad address in G");

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
    EXPECT_EQ(c.failureOf("R00000000,FFFFFFFF#"),
              "SAM-BA protocol error: bad command R00000000,FFFFFFFF");
    EXPECT_EQ(c.failureOf("S00000000,FFFFFFFF#"),
              "SAM-BA protocol error: bad command S00000000,FFFFFFFF");
    EXPECT_EQ(c.failureOf("R00000000,00100001#"),
              "SAM-BA protocol error: bad command R00000000,00100001");
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

} // namespace
} // namespace pelwick
