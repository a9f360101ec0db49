#include "flasher/Flasher.h"

#include "device/FlasherError.h"
#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::flasherErrorOf;
using testing::ScriptedTransport;
using testing::TempDir;

class FixedListing : public SerialPortListing {
public:
    explicit FixedListing(std::vector<std::string> paths) {
        for (auto& path : paths) {
            ports_.push_back(SerialPort{std::move(path)});
        }
    }
    std::vector<SerialPort> listPorts() const override { return ports_; }

private:
    std::vector<SerialPort> ports_;
};

// Forwards to a transport the test keeps, and counts the closes.
class CountedTransport : public ByteTransport {
public:
    CountedTransport(std::shared_ptr<ByteTransport> inner, int& closes)
        : inner_(std::move(inner)), closes_(closes) {}
    void write(ByteView data) override { inner_->write(data); }
    Bytes read(std::size_t max, double timeout) override { return inner_->read(max, timeout); }
    void close() noexcept override {
        ++closes_;
        inner_->close();
    }

private:
    std::shared_ptr<ByteTransport> inner_;
    int& closes_;
};

// A Flasher over listed paths whose opener hands out, per path, a prepared transport or a failure
// to open, and counts what it did.
struct Bench {
    std::map<std::string, std::shared_ptr<ByteTransport>> transports;
    std::vector<std::string> opened;
    int closes = 0;

    Flasher flasher(std::vector<std::string> paths) {
        return Flasher{std::make_shared<FixedListing>(std::move(paths)), true,
                       [this](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                           opened.push_back(port.path);
                           const auto found = transports.find(port.path);
                           if (found == transports.end()) {
                               throw FlasherError::serialOpenFailed(port.path);
                           }
                           return std::make_unique<CountedTransport>(found->second, closes);
                       },
                       0.0};
    }
};

std::shared_ptr<ScriptedTransport> emptyVersionMonitor() {
    auto monitor = std::make_shared<ScriptedTransport>();
    monitor->responder = [](const Bytes& written) {
        return written == Bytes{'V', '#'} ? Bytes{'\r', '\n'} : Bytes{};
    };
    return monitor;
}

TEST(FlasherConnect, TriesOnlyModemPorts) {
    Bench bench;
    EXPECT_EQ(flasherErrorOf([&] { bench.flasher({}).connect(1.0); }),
              FlasherError::noProgrammingCable());
    const Flasher adapters = bench.flasher({"/dev/cu.usbserial-1420", "/dev/ttyUSB0"});
    EXPECT_EQ(flasherErrorOf([&] { adapters.connect(1.0); }), FlasherError::noProgrammingCable());
    EXPECT_TRUE(bench.opened.empty());
    // The adapters still count as cables for the listing.
    EXPECT_EQ(adapters.requireProgrammingCable().path, "/dev/cu.usbserial-1420");

    bench.transports["/dev/CU.USBMODEM14101"] =
        std::make_shared<SimulatedCalculatorTransport>(0, false);
    const ConnectedTarget target =
        bench.flasher({"/dev/cu.usbserial-1420", "/dev/CU.USBMODEM14101"}).connect(1.0);
    EXPECT_EQ(target.port.path, "/dev/CU.USBMODEM14101");
    EXPECT_THAT(bench.opened, ElementsAre("/dev/CU.USBMODEM14101"));
    EXPECT_EQ(target.identity.name, "ATSAM4LC2C");
    EXPECT_EQ(target.client->version(), "v1.1 Dec 15 2013 19:03:14");
    const auto& trace = target.client->commandTrace();
    ASSERT_GE(trace.size(), 5u);
    EXPECT_THAT(std::vector<std::string>(trace.begin(), trace.begin() + 5),
                ElementsAre("N#", "V#", "wE000ED00,4#", "w400E0740,4#", "w400E0744,4#"));
    EXPECT_EQ(bench.closes, 0); // the target owns the open connection
}

TEST(FlasherConnect, GoesOnToTheNextPortAndReportsTheLastFailure) {
    {
        // The first port cannot be opened; the second answers and its error is forgotten.
        Bench bench;
        bench.transports["/dev/cu.usbmodem2"] =
            std::make_shared<SimulatedCalculatorTransport>(0, true);
        const ConnectedTarget target =
            bench.flasher({"/dev/cu.usbmodem1", "/dev/cu.usbmodem2"}).connect(1.0);
        EXPECT_EQ(target.port.path, "/dev/cu.usbmodem2");
        EXPECT_THAT(bench.opened, ElementsAre("/dev/cu.usbmodem1", "/dev/cu.usbmodem2"));
        EXPECT_EQ(bench.closes, 0);
    }
    {
        // Two silent monitors: both tried, both closed, the generic time-out.
        Bench bench;
        bench.transports["/dev/ttyACM0"] = std::make_shared<ScriptedTransport>();
        bench.transports["/dev/ttyACM1"] = std::make_shared<ScriptedTransport>();
        EXPECT_EQ(flasherErrorOf([&] {
                      bench.flasher({"/dev/ttyACM0", "/dev/ttyACM1"}).connect(0.1);
                  }),
                  FlasherError::sambaTimeout(""));
        EXPECT_THAT(bench.opened, ElementsAre("/dev/ttyACM0", "/dev/ttyACM1"));
        EXPECT_EQ(bench.closes, 2);
        const auto& first = static_cast<ScriptedTransport&>(*bench.transports["/dev/ttyACM0"]);
        EXPECT_THAT(first.commands(), ElementsAre("N#", "V#", "T#", "N#", "V#"));
    }
    {
        // A time-out on the first port, an empty version on the last: the last error is reported.
        Bench bench;
        bench.transports["/dev/ttyACM0"] = std::make_shared<ScriptedTransport>();
        bench.transports["/dev/ttyACM1"] = emptyVersionMonitor();
        EXPECT_EQ(flasherErrorOf([&] {
                      bench.flasher({"/dev/ttyACM0", "/dev/ttyACM1"}).connect(0.1);
                  }),
                  FlasherError::sambaProtocol("empty version string"));
        EXPECT_EQ(bench.closes, 2);
    }
}

TEST(FlasherConnect, APortThatDidNotAnswerIsLeftAloneUntilItComesBack) {
    // ttyACM0 is some other device that stays silent, ttyACM1 the calculator.
    struct Listing : SerialPortListing {
        std::vector<SerialPort> ports;
        std::vector<SerialPort> listPorts() const override { return ports; }
    };
    auto listing = std::make_shared<Listing>();
    const SerialPort other{"/dev/ttyACM0"};
    listing->ports = {other, SerialPort{"/dev/ttyACM1"}};
    Bench bench;
    bench.transports["/dev/ttyACM0"] = std::make_shared<ScriptedTransport>();
    bench.transports["/dev/ttyACM1"] = std::make_shared<SimulatedCalculatorTransport>(0, true);
    Flasher flasher = bench.flasher({});
    flasher.ports = listing;
    const auto connectAndClose = [](const Flasher& tool) { tool.connect(0.1).client->close(); };

    connectAndClose(flasher);
    connectAndClose(Flasher(flasher)); // a copy, as a background job holds, remembers it too
    EXPECT_THAT(bench.opened, ElementsAre("/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM1"));

    // Gone from the listing and back, or another device under its name: opened again, once.
    listing->ports = {SerialPort{"/dev/ttyACM1"}};
    connectAndClose(flasher);
    listing->ports = {other, SerialPort{"/dev/ttyACM1"}};
    connectAndClose(flasher);
    connectAndClose(flasher);
    const auto usb = [](std::uint16_t vendor, std::uint16_t product) {
        UsbIdentity identity;
        identity.vendorId = vendor;
        identity.productId = product;
        return identity;
    };
    const SerialPort board{"/dev/ttyACM0", usb(0x2341, 0x0043)};
    listing->ports = {board, SerialPort{"/dev/ttyACM1"}};
    connectAndClose(flasher);
    const auto opens = [&] {
        return std::count(bench.opened.begin(), bench.opened.end(), "/dev/ttyACM0");
    };
    EXPECT_EQ(opens(), 3);

    // Alone, it fails as it did, without being opened.
    listing->ports = {board};
    EXPECT_EQ(flasherErrorOf([&] { flasher.connect(0.1); }), FlasherError::sambaTimeout());
    EXPECT_EQ(opens(), 3);

    // The calculator itself, known by its USB id, is tried every time.
    listing->ports = {SerialPort{"/dev/ttyACM0", usb(0x03EB, 0x6124)}};
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_EQ(opens(), 5);
}

TEST(FlasherConnect, ReturnsUnknownChipsWithoutJudgingThem) {
    Bench bench;
    auto chip = std::make_shared<SimulatedCalculatorTransport>(0, true);
    chip->storeWord(0x400E0740, 0);
    chip->storeWord(0x400E0744, 0);
    bench.transports["/dev/ttyACM0"] = chip;
    const ConnectedTarget target = bench.flasher({"/dev/ttyACM0"}).connect(1.0);
    EXPECT_EQ(target.identity.name, "unknown");
    EXPECT_EQ(target.identity.flashBytes, 0);
    EXPECT_EQ(target.identity.cpuid, 0x410FC241u);
    EXPECT_FALSE(target.identity.isSupported15C());
}

TEST(FlasherConnect, DemoConfigurationReachesTheSimulatedCalculator) {
    auto sim = std::make_shared<SimulatedCalculatorTransport>(0.01, true);
    const Flasher demo = Flasher::simulated(sim);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ConnectedTarget target = demo.connect(3.0);
        EXPECT_EQ(target.port.path, "/dev/cu.usbmodemDEMO");
        EXPECT_EQ(target.identity.name, "ATSAM4LC2C");
        EXPECT_TRUE(target.identity.isSupported15C());
        target.client->writeWord(0x20000000 + attempt * 4, 0xC0FFEE00 + attempt);
        target.client->close();
    }
    // Both connections wrote into the one calculator.
    EXPECT_EQ(sim->loadWord(0x20000000), 0xC0FFEE00u);
    EXPECT_EQ(sim->loadWord(0x20000004), 0xC0FFEE01u);
    EXPECT_FALSE(sim->closed());
}

TEST(SAM4LChipTable, NamesChipsAndDecidesWhatIsSupported) {
    const DeviceIdentity c2c = SAM4LChipTable::identify(0xAB0A07E1, 0x0400000F, 0x410FC241);
    EXPECT_EQ(c2c, (DeviceIdentity{0xAB0A07E1, 0x0400000F, 0x410FC241, "ATSAM4LC2C", 131072}));
    EXPECT_TRUE(c2c.isSupported15C());
    const DeviceIdentity variant = SAM4LChipTable::identify(0xAB0A07E0, 0x05000000, 0x410FC241);
    EXPECT_EQ(variant.name, "ATSAM4Lx2");
    EXPECT_EQ(variant.flashBytes, 0x20000);
    EXPECT_TRUE(variant.isSupported15C());
    EXPECT_EQ(SAM4LChipTable::identify(0xAB0A07E0, 0x02000002, 0).name, "ATSAM4LS2A");
    const DeviceIdentity large = SAM4LChipTable::identify(0xAB0A09E0, 0x0400000F, 0x410FC241);
    EXPECT_EQ(large.name, "ATSAM4LC4C");
    EXPECT_EQ(large.flashBytes, 262144);
    EXPECT_FALSE(large.isSupported15C());
    EXPECT_EQ(SAM4LChipTable::identify(0xAB0B0AFF, 0x1400000F, 0).flashBytes, 512 * 1024);
    // Not a Cortex-M4, a CIDR that differs above the revision bits, nothing at all.
    EXPECT_FALSE(SAM4LChipTable::identify(0xAB0A07E0, 0x0400000F, 0x410FC231).isSupported15C());
    EXPECT_EQ(SAM4LChipTable::identify(0xAB0A07C0, 0x0400000F, 0x410FC241).name, "unknown");
    const DeviceIdentity none = SAM4LChipTable::identify(0, 0, 0);
    EXPECT_EQ(none.name, "unknown");
    EXPECT_EQ(none.flashBytes, 0);
    EXPECT_FALSE(none.isCortexM4() || none.isSAM4L() || none.isSupported15C());
    EXPECT_FALSE(c2c == SAM4LChipTable::identify(0xAB0A07E1, 0x0400000F, 0x410FC240));
}

// Lets the test pull the cable from inside the calculator, at the first block read.
class UnpluggedAtBlockRead : public ByteTransport {
public:
    UnpluggedAtBlockRead(std::shared_ptr<ByteTransport> inner, std::function<void()> unplug)
        : inner_(std::move(inner)), unplug_(std::move(unplug)) {}
    void write(ByteView data) override {
        if (!data.empty() && data.front() == 'R') {
            unplug_();
            return;
        }
        inner_->write(data);
    }
    Bytes read(std::size_t max, double timeout) override { return inner_->read(max, timeout); }
    void close() noexcept override { inner_->close(); }

private:
    std::shared_ptr<ByteTransport> inner_;
    std::function<void()> unplug_;
};

TEST(FlasherConnect, RealCableConfigurationOverAPseudoTerminal) {
    auto sim = std::make_shared<SimulatedCalculatorTransport>(0, true);
    PseudoTerminalServer* serverHandle = nullptr;
    PseudoTerminalServer server(
        std::make_shared<UnpluggedAtBlockRead>(sim, [&] { serverHandle->hangUp(); }));
    serverHandle = &server;
    std::vector<std::string> rejected;
    server.start([&](const std::string& message) { rejected.push_back(message); });

    TempDir dev;
    const Flasher cable = Flasher::realCable(dev.path());
    EXPECT_EQ(flasherErrorOf([&] { cable.connect(3.0); }), FlasherError::noProgrammingCable());
    std::filesystem::create_symlink(server.slavePath(), dev / "ttyACM0");
    dev.write("ttyS0", {});

    ConnectedTarget target = cable.connect(3.0);
    EXPECT_EQ(target.port.path, (dev / "ttyACM0").string());
    EXPECT_EQ(target.identity.name, "ATSAM4LC2C");
    EXPECT_TRUE(target.identity.isSupported15C());
    EXPECT_EQ(target.client->version(), "v1.1 Dec 15 2013 19:03:14");
    EXPECT_THAT(target.client->commandTrace(),
                ElementsAre("N#", "V#", "wE000ED00,4#", "w400E0740,4#", "w400E0744,4#"));
    target.client->close();

    // The next connection finds the calculator again; pulling the cable mid-exchange is reported
    // as such.
    target = cable.connect(3.0);
    EXPECT_EQ(target.client->readWord(0x4000, 3.0), 0x9090u);
    EXPECT_EQ(flasherErrorOf([&] { target.client->read(0x4000, 4096, 3.0); }),
              FlasherError::serialPortClosed());
    target.client->close();
    EXPECT_TRUE(rejected.empty());
    // The terminal is gone with the cable.
    EXPECT_EQ(flasherErrorOf([&] { cable.connect(1.0); }),
              FlasherError::serialOpenFailed((dev / "ttyACM0").string()));

    const Flasher nowhere = Flasher::realCable(dev / "absent");
    EXPECT_THROW(nowhere.connect(1.0), std::filesystem::filesystem_error);
}

} // namespace
} // namespace pelwick
