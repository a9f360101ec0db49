#include "samba/SambaClient.h"

#include "sim/SimulatedCalculatorTransport.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ScriptedTransport;

using testing::bytes;

// A client over a scripted transport that the test keeps looking at.
struct ScriptedClient {
    std::unique_ptr<ScriptedTransport> owned = std::make_unique<ScriptedTransport>();
    ScriptedTransport* transport = owned.get();
    std::vector<double> sleeps;
    SambaClient client{std::move(owned), [this](double seconds) { sleeps.push_back(seconds); }};
};

// A simulated calculator behind a fault injector, and a client on it.
struct UntidyLine {
    std::shared_ptr<SimulatedCalculatorTransport> calculator =
        std::make_shared<SimulatedCalculatorTransport>(0, true);
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    SambaClient client{std::make_unique<SharedTransport>(link), [](double) {}};
};

TEST(SambaClient, BlocksMoveIn4096ByteStepsWithAPauseAfterEachSent) {
    ScriptedClient s;
    // Blocks go out with their payload and the pause after each; they come back joined.
    const Bytes data = testing::patternBytes(5000, 1);
    s.client.setAfterSendDelay(0.25);
    s.client.write(0x20001000, data);
    EXPECT_THAT(s.transport->writes,
                ElementsAre(bytes("S20001000,00001000#"), Bytes(data.begin(), data.begin() + 4096),
                            bytes("S20002000,00000388#"), Bytes(data.begin() + 4096, data.end())));
    EXPECT_THAT(s.sleeps, ElementsAre(0.25, 0.25));

    UntidyLine line;
    const Bytes stored = testing::patternBytes(10000, 2);
    for (std::uint32_t i = 0; i < stored.size(); ++i) {
        line.calculator->memory()[0x4000 + i] = stored[i];
    }
    EXPECT_TRUE(line.client.read(0x4000, 10000, 3.0) == stored);
    EXPECT_THAT(line.link->commands(),
                ElementsAre("R00004000,00001000#", "R00005000,00001000#", "R00006000,00000710#"));
}

TEST(SambaClient, ConnectRecoversOnceThroughTerminalModeFromATimeoutOrALineThatIsNoText) {
    struct Case {
        const char* what;
        std::vector<Bytes> versionReplies; // to the first and second "V#"
        std::optional<FlasherError> error;
        std::vector<std::string> trace;
        std::string version;
    };
    const std::vector<std::string> direct{"N#", "V#"};
    const std::vector<std::string> recovered{"N#", "V#", "T#", "N#", "V#"};
    const Bytes notText{'v', 0xFF, '2', 0x1B, '\r', '\n'};
    for (const Case& c : {
             Case{"misses the first V#",
                  {{}, bytes("v1.1 Dec 15 2013\r\nleftover")},
                  {},
                  recovered,
                  "v1.1 Dec 15 2013"},
             Case{"never answers", {}, FlasherError::sambaTimeout(), recovered, ""},
             Case{"an empty version",
                  {bytes("  \r\n")},
                  FlasherError::sambaProtocol("empty version string"),
                  direct,
                  ""},
             // What came is kept escaped, to be shown as it is.
             Case{"a line that is no text",
                  {notText, notText},
                  FlasherError::sambaProtocol(SambaClient::notAVersionDetail),
                  recovered,
                  "v\\xFF2\\x1B"},
         }) {
        ScriptedClient s;
        std::size_t versions = 0;
        s.transport->responder = [&](const Bytes& written) {
            if (written == bytes("T#")) {
                return bytes("\r\n>");
            }
            const bool version = written == bytes("V#") && versions < c.versionReplies.size();
            return version ? c.versionReplies[versions++] : Bytes{};
        };
        if (c.error) {
            EXPECT_EQ(flasherErrorOf([&] { s.client.connect(0.1); }), *c.error) << c.what;
        } else {
            EXPECT_NO_THROW(s.client.connect(0.1)) << c.what;
        }
        EXPECT_EQ(s.client.commandTrace(), c.trace) << c.what;
        EXPECT_EQ(s.client.version(), c.version) << c.what;
    }
}

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
    EXPECT_EQ(stray.client.read(0x4000, 2, 1.0), (Bytes{0x90, 0x90}));
}

} // namespace
} // namespace pelwick
