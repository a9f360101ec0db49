#include "sim/SimulatedCalculatorTransport.h"

#include "device/FlasherError.h"
#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using testing::flasherErrorOf;

using testing::bytes;

// A simulated calculator driven with the monitor's own commands.
struct Calculator {
    SimulatedCalculatorTransport sim{0, true};

    void send(const std::string& text) { sim.write(bytes(text)); }
    Bytes take() { return sim.read(1u << 22, 3.0); }
    FlasherError failureOf(const std::string& text) {
        return flasherErrorOf([&] { send(text); });
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
             {"W1,2,3#", "bad command W1,2,3"}, {"w100000000,4#", "bad address in w100000000,4"}}) {
        EXPECT_EQ(c.failureOf(command), FlasherError::sambaProtocol(detail));
    }
}

} // namespace
} // namespace pelwick
