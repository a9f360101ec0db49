#include "samba/SambaClient.h"

#include "sim/SimulatedCalculatorTransport.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ScriptedTransport;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A client over a scripted transport that the test keeps looking at.
struct ScriptedClient {
    ScriptedTransport* transport;
    std::vector<double> sleeps;
    SambaClient client;

    ScriptedClient() : ScriptedClient(std::make_unique<ScriptedTransport>()) {}
    explicit ScriptedClient(std::unique_ptr<ScriptedTransport> owned)
        : transport(owned.get()),
          client(std::move(owned), [this](double seconds) { sleeps.push_back(seconds); }) {}
};

// Answers "R" commands with bytes that tell their address: byte i of a block at A is (A + i) % 251.
Bytes addressPattern(const Bytes& written) {
    unsigned address = 0;
    unsigned length = 0;
    const std::string text(written.begin(), written.end());
    if (std::sscanf(text.c_str(), "R%8X,%8X#", &address, &length) != 2) {
        return {};
    }
    Bytes reply(length);
    for (unsigned i = 0; i < length; ++i) {
        reply[i] = static_cast<std::uint8_t>((std::uint64_t{address} + i) % 251);
    }
    return reply;
}

TEST(SambaClient, WordCommandsAreExactBytesAndLittleEndian) {
    ScriptedClient s;
    s.transport->queue(Bytes{0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(s.client.readWord(0x400E0740, 3.0), 0x04030201u);
    EXPECT_EQ(s.transport->writes.front(), bytes("w400E0740,4#"));

    s.client.writeWord(0x20000000, 0x1F);
    s.client.go(0x20002000);
    s.transport->queue(Bytes{0xE0, 0x07, 0x0A, 0xAB});
    s.client.ping(3.0);
    EXPECT_THAT(s.transport->writes,
                ElementsAre(bytes("w400E0740,4#"), bytes("W20000000,0000001F#"),
                            bytes("G20002000#"), bytes("w400E0740,4#")));
    EXPECT_THAT(s.client.commandTrace(),
                ElementsAre("w400E0740,4#", "W20000000,0000001F#", "G20002000#", "w400E0740,4#"));
    // Writes and jumps read nothing back; each reply is followed by one look for bytes beyond it.
    EXPECT_EQ(s.transport->readCount, 4);

    // A short reply is the generic time-out; the command is still in the trace.
    s.transport->queue(Bytes{0xAA, 0xBB});
    EXPECT_EQ(flasherErrorOf([&] { s.client.readWord(0xE000ED00, 0.2); }),
              FlasherError::sambaTimeout(""));
    EXPECT_EQ(s.client.commandTrace().back(), "wE000ED00,4#");

    // A command that fails to send is recorded all the same.
    s.transport->failNextWrite = [] { throw FlasherError::serialPortClosed(); };
    EXPECT_THROW(s.client.writeWord(0x1, 0x2), FlasherError);
    EXPECT_EQ(s.client.commandTrace().back(), "W00000001,00000002#");
}

TEST(SambaClient, BlocksAreSplitAt4096) {
    ScriptedClient s;
    s.transport->responder = addressPattern;
    const Bytes data = s.client.read(0x4000, 10000, 3.0);
    EXPECT_THAT(s.client.commandTrace(),
                ElementsAre("R00004000,00001000#", "R00005000,00001000#", "R00006000,00000710#"));
    ASSERT_EQ(data.size(), 10000u);
    for (std::size_t i = 0; i < data.size(); i += 997) {
        EXPECT_EQ(data[i], (0x4000 + i) % 251) << "at " << i;
    }
    EXPECT_EQ(data.back(), (0x4000 + 9999) % 251);

    // Addresses wrap around at 32 bits.
    ScriptedClient wrap;
    wrap.transport->responder = addressPattern;
    EXPECT_EQ(wrap.client.read(0xFFFFF800, 4096, 3.0).size(), 4096u);
    EXPECT_THAT(wrap.client.commandTrace(), ElementsAre("RFFFFF800,00001000#"));
    wrap.client.write(0xFFFFF000, Bytes(4097, 0x5A));
    EXPECT_EQ(wrap.client.commandTrace().back(), "S00000000,00000001#");

    // A block that comes up short fails with the generic time-out.
    ScriptedClient shortBlock;
    shortBlock.transport->queue(Bytes(4096));
    EXPECT_THROW(shortBlock.client.read(0, 5000, 0.2), FlasherError);
    EXPECT_THAT(shortBlock.client.commandTrace(),
                ElementsAre("R00000000,00001000#", "R00001000,00000388#"));
}

TEST(SambaClient, SendBlocksCarryTheirPayloadOutsideTheTrace) {
    ScriptedClient s;
    const Bytes data = testing::patternBytes(5000, 1);
    s.client.write(0x20001000, data);
    ASSERT_EQ(s.transport->writes.size(), 4u);
    EXPECT_EQ(s.transport->writes[0], bytes("S20001000,00001000#"));
    EXPECT_EQ(s.transport->writes[1], Bytes(data.begin(), data.begin() + 4096));
    EXPECT_EQ(s.transport->writes[2], bytes("S20002000,00000388#"));
    EXPECT_EQ(s.transport->writes[3], Bytes(data.begin() + 4096, data.end()));
    EXPECT_THAT(s.client.commandTrace(), ElementsAre("S20001000,00001000#", "S20002000,00000388#"));
    EXPECT_TRUE(s.sleeps.empty());

    // The pause after each block goes through the client's sleep, once per block.
    s.client.setAfterSendDelay(0.25);
    s.client.write(0x20001000, data);
    EXPECT_THAT(s.sleeps, ElementsAre(0.25, 0.25));
    s.client.setAfterSendDelay(-1);
    s.client.write(0x20001000, Bytes(10));
    EXPECT_EQ(s.sleeps.size(), 2u);

    // Nothing to move: nothing sent, nothing read.
    ScriptedClient empty;
    empty.client.write(0x4000, Bytes{});
    EXPECT_TRUE(empty.client.read(0x4000, 0, 3.0).empty());
    EXPECT_TRUE(empty.transport->writes.empty());
    EXPECT_TRUE(empty.client.commandTrace().empty());
    EXPECT_EQ(empty.transport->readCount, 0);
}

TEST(SambaClient, ATraceShowsCommandsSizesPausesTimeOutsAndDiscardsButNoPayload) {
    ScriptedClient s;
    std::vector<std::string> trace;
    s.client.setTrace([&](const std::string& line) { trace.push_back(line); });
    s.transport->queue(Bytes{1, 2, 3, 4});
    (void)s.client.readWord(0x400E0740, 3.0);
    s.client.setAfterSendDelay(0.25);
    s.client.write(0x20001000, bytes("PAYLOAD"));
    EXPECT_THROW(s.client.readWord(0xE000ED00, 0.05), FlasherError);
    s.transport->queue(Bytes{9, 9});
    s.client.discardAvailable(0.05);
    s.client.close();
    ASSERT_EQ(trace.size(), 9u);
    EXPECT_TRUE(trace[1].starts_with("reply 4 bytes after ")) << trace[1];
    trace[1] = "reply";
    EXPECT_THAT(trace, ElementsAre("send w400E0740,4#", "reply", "send S20001000,00000007#",
                                   "data 7 bytes", "pause 0.250 s", "send wE000ED00,4#",
                                   "no complete reply of 4 bytes within 0.050 s",
                                   "discarded 2 bytes", "close"));
    // The pause still happens, through the client's own sleep.
    EXPECT_THAT(s.sleeps, ElementsAre(0.25));
}

TEST(SambaClient, ConnectRecoversOnceThroughTerminalMode) {
    // A monitor in terminal mode that misses the first "V#".
    ScriptedClient s;
    int versionRequests = 0;
    s.transport->responder = [&](const Bytes& written) -> Bytes {
        const std::string command(written.begin(), written.end());
        if (command == "T#") {
            return bytes("\r\n>");
        }
        if (command == "V#" && ++versionRequests == 2) {
            return bytes("v1.1 Dec 15 2013 19:03:14\r\nleftover");
        }
        return {};
    };
    s.client.connect(0.2);
    EXPECT_THAT(s.client.commandTrace(), ElementsAre("N#", "V#", "T#", "N#", "V#"));
    EXPECT_EQ(s.client.version(), "v1.1 Dec 15 2013 19:03:14");

    // A monitor that never answers: the second time-out is the result.
    ScriptedClient silent;
    EXPECT_EQ(flasherErrorOf([&] { silent.client.connect(0.1); }), FlasherError::sambaTimeout(""));
    EXPECT_THAT(silent.client.commandTrace(), ElementsAre("N#", "V#", "T#", "N#", "V#"));
    EXPECT_EQ(silent.client.version(), "");
}

TEST(SambaClient, ConnectFailsAtOnceOnAnythingButATimeout) {
    ScriptedClient empty;
    empty.transport->responder = [](const Bytes& written) {
        return written == bytes("V#") ? bytes("  \r\n") : Bytes{};
    };
    EXPECT_EQ(flasherErrorOf([&] { empty.client.connect(3.0); }),
              FlasherError::sambaProtocol("empty version string"));
    EXPECT_THAT(empty.client.commandTrace(), ElementsAre("N#", "V#"));
    EXPECT_EQ(empty.client.version(), "");

    // The cable vanishing during the version exchange is not retried.
    struct Unplugged : ScriptedTransport {
        Bytes read(std::size_t, double) override { throw FlasherError::serialPortClosed(); }
    };
    ScriptedClient gone(std::make_unique<Unplugged>());
    EXPECT_EQ(flasherErrorOf([&] { gone.client.connect(3.0); }), FlasherError::serialPortClosed());
    EXPECT_THAT(gone.client.commandTrace(), ElementsAre("N#", "V#"));
    // Discarding never fails, even here.
    EXPECT_NO_THROW(gone.client.discardAvailable(0.1));
    gone.client.close();
    EXPECT_EQ(gone.transport->closeCount, 1);

    // A line that is not printable text is no version, even after the recovery; what came is
    // kept escaped.
    ScriptedClient odd;
    odd.transport->responder = [](const Bytes& written) {
        return written == bytes("V#") ? Bytes{'v', 0xFF, '2', 0x1B, '\r', '\n'} : Bytes{};
    };
    EXPECT_EQ(flasherErrorOf([&] { odd.client.connect(1.0); }),
              FlasherError::sambaProtocol(SambaClient::notAVersionDetail));
    EXPECT_THAT(odd.client.commandTrace(), ElementsAre("N#", "V#", "T#", "N#", "V#"));
    EXPECT_EQ(odd.client.version(), "v\\xFF2\\x1B");
}

// A simulated calculator behind a fault injector, and a client on it.
struct UntidyLine {
    std::shared_ptr<SimulatedCalculatorTransport> calculator =
        std::make_shared<SimulatedCalculatorTransport>(0, false);
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    SambaClient client{std::make_unique<SharedTransport>(link), [](double) {}};
};

TEST(SambaClient, ConnectWaitsForQuietAndTakesOnlyATextLineForTheVersion) {
    struct Case {
        const char* what;
        Fault fault;
        int atWrite;
        std::size_t amount;
        std::vector<std::string> trace;
    };
    const std::vector<std::string> direct{"N#", "V#"};
    const std::vector<std::string> recovered{"N#", "V#", "T#", "N#", "V#"};
    for (const Case& c : {
             Case{"the rest of a block an earlier program never read", Fault::strayBytes, 1, 2048,
                  direct},
             Case{"an echo from a monitor in terminal mode", Fault::echoes, 1, 0, direct},
             Case{"the answer to N# coming late", Fault::replyLate, 1, 0, direct},
             Case{"stray bytes ahead of the version", Fault::strayBytes, 2, 5, recovered},
         }) {
        UntidyLine line;
        line.link->injectAtWrite(c.atWrite, c.fault, c.amount);
        line.client.connect(0.5);
        EXPECT_TRUE(line.link->triggered()) << c.what;
        EXPECT_EQ(line.client.version(), "v1.1 Dec 15 2013 19:03:14") << c.what;
        EXPECT_EQ(line.client.commandTrace(), c.trace) << c.what;
        // The conversation is in step: the next reply is the register's.
        EXPECT_EQ(line.client.readWord(0xE000ED00, 1.0), 0x410FC241u) << c.what;
    }
}

TEST(SambaClient, RepliesNeverShift) {
    // A reply that comes after its exchange timed out is not taken for the next one, whether it
    // is already there when the next command goes out or comes with its reply.
    UntidyLine late;
    late.calculator->storeWord(0x20000000, 0x11111111);
    late.calculator->storeWord(0x20000004, 0x22222222);
    late.link->injectAtWrite(1, Fault::replyLate);
    EXPECT_EQ(flasherErrorOf([&] { late.client.readWord(0x20000000, 0.1); }),
              FlasherError::sambaTimeout());
    EXPECT_EQ(late.client.readWord(0x20000004, 1.0), 0x22222222u);
    late.link->injectAtWrite(3, Fault::replyLate);
    EXPECT_THROW(late.client.readWord(0x20000000, 0.1), FlasherError);
    late.client.writeWord(0x20000008, 0); // the late reply arrives meanwhile
    EXPECT_EQ(late.client.readWord(0x20000004, 1.0), 0x22222222u);

    // On a line in step, bytes beyond a reply mean it was shifted: it is refused, not returned.
    UntidyLine stray;
    stray.link->injectAtWrite(1, Fault::strayBytes, 3);
    EXPECT_EQ(flasherErrorOf([&] { stray.client.read(0x4000, 4096, 1.0); }),
              FlasherError::sambaProtocol(SambaClient::unexpectedBytesDetail));
    EXPECT_EQ(stray.client.read(0x4000, 8, 1.0), Bytes(8, 0xFF));
}

} // namespace
} // namespace pelwick
