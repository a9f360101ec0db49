// The fault injector and the recorder are what every fault test stands on: check that they do
// what they promise, on the simulated calculator.

#include "device/FlasherError.h"
#include "samba/SambaClient.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/RecordingTransport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace pelwick {
namespace {

using testing::Fault;
using testing::FaultInjectingTransport;
using testing::RecordedChunk;
using testing::RecordingTransport;

struct Link {
    std::shared_ptr<SimulatedCalculatorTransport> calculator =
        std::make_shared<SimulatedCalculatorTransport>(0, true);
    std::shared_ptr<FaultInjectingTransport> faults =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    SambaClient client{std::make_unique<SharedTransport>(faults)};
};

using testing::flasherErrorOf;

TEST(FaultInjectingTransport, RepliesCanBeCutShortOrChanged) {
    Link cut;
    cut.faults->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w", 2),
                           Fault::replyCutShort, 2);
    EXPECT_EQ(cut.client.readWord(0x400E0740, 3), 0xAB0A07E0u);
    EXPECT_EQ(flasherErrorOf([&] { cut.client.readWord(0x400E0740, 3); }),
              FlasherError::sambaTimeout());
    EXPECT_EQ(cut.faults->triggeredAtWrite(), 2);
    // One-shot: the next exchange is whole again.
    EXPECT_EQ(cut.client.readWord(0x400E0740, 3), 0xAB0A07E0u);

    Link changed;
    changed.faults->injectWhen(FaultInjectingTransport::commandIs("R00004000,00000010#"),
                               Fault::wrongReplyByte, 1);
    const Bytes block = changed.client.read(0x4000, 16, 3);
    EXPECT_EQ(block[0], 0x90);
    EXPECT_EQ(block[1], 0x90 ^ 0xFF);
    EXPECT_EQ(block[2], 0x00);
}

TEST(FaultInjectingTransport, ACableGoneOrASilentMonitorStaysThatWay) {
    Link gone;
    gone.faults->injectAtWrite(2, Fault::cableGone);
    gone.client.writeWord(0x20000000, 1);
    EXPECT_EQ(flasherErrorOf([&] { gone.client.writeWord(0x20000004, 2); }),
              FlasherError::serialPortClosed());
    EXPECT_EQ(flasherErrorOf([&] { gone.faults->read(1, 0); }), FlasherError::serialPortClosed());
    EXPECT_EQ(flasherErrorOf([&] { gone.client.ping(3); }), FlasherError::serialPortClosed());
    EXPECT_EQ(gone.calculator->loadWord(0x20000004), 0xFFFFFFFFu); // never reached the chip
    gone.faults->heal();
    EXPECT_NO_THROW(gone.client.ping(3));

    Link silent;
    silent.faults->injectWhen(FaultInjectingTransport::commandIs("W20000000,00000001#"),
                              Fault::monitorSilent);
    silent.client.writeWord(0x20000000, 1); // delivered, then the monitor hangs
    silent.client.writeWord(0x20000004, 2); // swallowed
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(flasherErrorOf([&] { silent.client.readWord(0x20000000, 30); }),
              FlasherError::sambaTimeout());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(silent.calculator->loadWord(0x20000000), 1u);
    EXPECT_EQ(silent.calculator->loadWord(0x20000004), 0xFFFFFFFFu);
    EXPECT_EQ(silent.faults->droppedWrites(), 2);
}

TEST(FaultInjectingTransport, PayloadsAreNotMistakenForCommands) {
    Link h;
    h.faults->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w", 1), Fault::cableGone);
    // A payload that ends in '#' and starts with 'w' is data, not the first word read.
    h.client.write(0x20001000, Bytes{'w', '1', '#'});
    EXPECT_EQ(h.faults->commands(), std::vector<std::string>{"S20001000,00000003#"});
    EXPECT_EQ(h.faults->writeCount(), 2);
    EXPECT_FALSE(h.faults->triggered());
    EXPECT_EQ(h.calculator->memory().at(0x20001002), '#');
}

TEST(RecordingTransport, RecordsWritesJoinsTheReadsOfOneReplyAndNotesQuietWaits) {
    auto calculator = std::make_shared<SimulatedCalculatorTransport>(0, true);
    RecordingTransport recorder{std::shared_ptr<ByteTransport>(calculator)};
    const std::string command = "w400E0740,4#";
    recorder.write(Bytes(command.begin(), command.end()));
    EXPECT_EQ(recorder.read(1, 0).size(), 1u);
    EXPECT_EQ(recorder.read(8, 0).size(), 3u);
    EXPECT_TRUE(recorder.read(8, 0.001).empty());
    const std::vector<RecordedChunk> expected = {
        {RecordedChunk::Direction::sent, Bytes(command.begin(), command.end())},
        {RecordedChunk::Direction::received, {0xE0, 0x07, 0x0A, 0xAB}},
        {RecordedChunk::Direction::quiet, {}, 0.001}};
    EXPECT_EQ(recorder.stream(), expected);
    EXPECT_EQ(recorder.bytesSent(), 12u);
    EXPECT_EQ(recorder.bytesReceived(), 4u);
}

} // namespace
} // namespace pelwick
