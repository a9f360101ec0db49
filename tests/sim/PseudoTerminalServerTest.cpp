#include "sim/PseudoTerminalServer.h"

#include "device/POSIXSerialLink.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

namespace pelwick {
namespace {

using ::testing::ElementsAre;

using testing::bytes;

// A served calculator and the messages of the commands it rejected.
struct Served {
    std::shared_ptr<SimulatedCalculatorTransport> sim =
        std::make_shared<SimulatedCalculatorTransport>(0, true);
    PseudoTerminalServer server{sim};
    std::mutex mutex;
    std::vector<std::string> rejected;

    Served() {
        server.start([this](const std::string& message) {
            std::lock_guard lock(mutex);
            rejected.push_back(message);
        });
    }
    std::vector<std::string> rejections() {
        std::lock_guard lock(mutex);
        return rejected;
    }
};

TEST(PseudoTerminalServer, AnswersTheSerialLinkAndReportsRejectedCommands) {
    Served served;
    POSIXSerialLink link(served.server.slavePath(), 115200);
    link.write(bytes("w400E0740,4#"));
    EXPECT_EQ(link.readExactly(4, 2.0), (Bytes{0xE0, 0x07, 0x0A, 0xAB}));

    // A rejected command is reported and the service goes on.
    link.write(bytes("X#"));
    link.write(bytes("V#"));
    EXPECT_EQ(link.readExactly(27, 2.0), bytes("v1.1 Dec 15 2013 19:03:14\r\n"));
    EXPECT_THAT(served.rejections(), ElementsAre("SAM-BA protocol error: unknown command X"));

    // Whatever the terminal joins together, each command runs once it is complete: here a
    // payload, a command behind it and a rejected one come in a single write.
    link.write(bytes("S20001000,00000004#ab#dQ#w20001000,4#"));
    EXPECT_EQ(link.readExactly(4, 2.0), bytes("ab#d"));
    EXPECT_EQ(served.rejections().size(), 2u);

    // A reply far larger than the terminal holds arrives whole.
    link.write(bytes("R00000000,00100000#"));
    const Bytes big = link.readExactly(1u << 20, 30.0);
    Bytes expected(1u << 20, 0xFF);
    std::fill(expected.begin() + 0x4000, expected.begin() + 0x20000, 0x00);
    expected[0x4000] = expected[0x4001] = 0x90;
    EXPECT_TRUE(big == expected);
}

} // namespace
} // namespace pelwick
