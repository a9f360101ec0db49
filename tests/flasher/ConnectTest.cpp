#include "flasher/Flasher.h"

#include "device/FlasherError.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::flasherErrorOf;
using testing::ScriptedTransport;

struct Listing : SerialPortListing {
    std::vector<SerialPort> ports;
    std::vector<SerialPort> listPorts() const override { return ports; }
};

// Forwards to a transport the test keeps, and counts the closes.
struct CountedTransport : SharedTransport {
    int& closes;
    CountedTransport(std::shared_ptr<ByteTransport> inner, int& closes)
        : SharedTransport(std::move(inner)), closes(closes) {}
    void close() noexcept override {
        ++closes;
        SharedTransport::close();
    }
};

// A Flasher over listed ports whose opener hands out, per path, a prepared transport or a failure
// to open, and counts what it did. A silent monitor is a ScriptedTransport without answers.
struct Bench {
    std::shared_ptr<Listing> listing = std::make_shared<Listing>();
    std::map<std::string, std::shared_ptr<ByteTransport>> transports;
    std::vector<std::string> opened;
    int closes = 0;

    Flasher flasher(const std::vector<std::string>& paths = {}) {
        for (const auto& path : paths) {
            listing->ports.push_back(SerialPort{path});
        }
        return Flasher{listing, true,
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
    long opens(const std::string& path) const {
        return std::count(opened.begin(), opened.end(), path);
    }
};

TEST(FlasherConnect, TriesOnlyModemPortsAndReturnsTheChipUnjudged) {
    Bench bench;
    EXPECT_EQ(flasherErrorOf([&] { bench.flasher().connect(1.0); }),
              FlasherError::noProgrammingCable());
    const Flasher adapters = bench.flasher({"/dev/cu.usbserial-1420", "/dev/ttyUSB0"});
    EXPECT_EQ(flasherErrorOf([&] { adapters.connect(1.0); }), FlasherError::noProgrammingCable());
    EXPECT_TRUE(bench.opened.empty());
    // The adapters still count as cables for the listing.
    EXPECT_EQ(adapters.requireProgrammingCable().path, "/dev/cu.usbserial-1420");

    // An unknown chip is returned as it is: the operations refuse it.
    auto chip = std::make_shared<SimulatedCalculatorTransport>(0, false);
    chip->storeWord(0x400E0740, 0);
    bench.transports["/dev/CU.USBMODEM14101"] = chip;
    const ConnectedTarget target = bench.flasher({"/dev/CU.USBMODEM14101"}).connect(1.0);
    EXPECT_EQ(target.port.path, "/dev/CU.USBMODEM14101");
    EXPECT_THAT(bench.opened, ElementsAre("/dev/CU.USBMODEM14101"));
    EXPECT_EQ(target.identity.name, "unknown");
    EXPECT_THAT(target.client->commandTrace(),
                ElementsAre("N#", "V#", "wE000ED00,4#", "w400E0740,4#", "w400E0744,4#"));
    EXPECT_EQ(bench.closes, 0); // the target owns the open connection
}

TEST(FlasherConnect, GoesOnToTheNextPortClosesWhatFailedAndReportsTheLastFailure) {
    struct Case {
        const char* what;
        std::vector<std::shared_ptr<ByteTransport>> transports; // for ttyACM0, ttyACM1
        std::optional<FlasherError> error;
        int closes;
    };
    auto emptyVersion = std::make_shared<ScriptedTransport>();
    emptyVersion->responder = [](const Bytes& written) {
        return written == Bytes{'V', '#'} ? Bytes{'\r', '\n'} : Bytes{};
    };
    for (const Case& c : {
             Case{"the first cannot be opened",
                  {nullptr, std::make_shared<SimulatedCalculatorTransport>(0, true)},
                  {},
                  0},
             Case{"two silent monitors",
                  {std::make_shared<ScriptedTransport>(), std::make_shared<ScriptedTransport>()},
                  FlasherError::sambaTimeout(),
                  2},
             Case{"silent, then an empty version",
                  {std::make_shared<ScriptedTransport>(), emptyVersion},
                  FlasherError::sambaProtocol("empty version string"),
                  2},
         }) {
        Bench bench;
        for (std::size_t i = 0; i < 2; ++i) {
            if (c.transports[i]) {
                bench.transports["/dev/ttyACM" + std::to_string(i)] = c.transports[i];
            }
        }
        const Flasher flasher = bench.flasher({"/dev/ttyACM0", "/dev/ttyACM1"});
        if (c.error) {
            EXPECT_EQ(flasherErrorOf([&] { flasher.connect(0.1); }), *c.error) << c.what;
        } else {
            EXPECT_EQ(flasher.connect(0.1).port.path, "/dev/ttyACM1") << c.what;
        }
        EXPECT_THAT(bench.opened, ElementsAre("/dev/ttyACM0", "/dev/ttyACM1")) << c.what;
        EXPECT_EQ(bench.closes, c.closes) << c.what;
    }
}

TEST(FlasherConnect, APortThatDidNotAnswerIsLeftAloneUntilItComesBack) {
    // ttyACM0 is some other device that stays silent, ttyACM1 the calculator.
    Bench bench;
    bench.transports["/dev/ttyACM0"] = std::make_shared<ScriptedTransport>();
    bench.transports["/dev/ttyACM1"] = std::make_shared<SimulatedCalculatorTransport>(0, true);
    const Flasher flasher = bench.flasher();
    const SerialPort other{"/dev/ttyACM0"};
    const SerialPort calculator{"/dev/ttyACM1"};
    const auto connectWith = [&](std::vector<SerialPort> ports, const Flasher& tool) {
        bench.listing->ports = std::move(ports);
        tool.connect(0.1).client->close();
    };
    connectWith({other, calculator}, flasher);
    connectWith({other, calculator}, Flasher(flasher)); // a copy, as a background job holds
    EXPECT_EQ(bench.opens("/dev/ttyACM0"), 1);

    // Gone from the listing and back, or another device under its name: opened again, once.
    connectWith({calculator}, flasher);
    connectWith({other, calculator}, flasher);
    connectWith({other, calculator}, flasher);
    const UsbIdentity board{0x2341, 0x0043, "", "", ""};
    connectWith({SerialPort{"/dev/ttyACM0", board}, calculator}, flasher);
    EXPECT_EQ(bench.opens("/dev/ttyACM0"), 3);

    // Alone, it fails as it did, without being opened.
    bench.listing->ports = {SerialPort{"/dev/ttyACM0", board}};
    EXPECT_EQ(flasherErrorOf([&] { flasher.connect(0.1); }), FlasherError::sambaTimeout());
    EXPECT_EQ(bench.opens("/dev/ttyACM0"), 3);

    // The calculator itself, known by its USB id, is tried every time.
    const UsbIdentity monitor{0x03EB, 0x6124, "", "", ""};
    bench.listing->ports = {SerialPort{"/dev/ttyACM0", monitor}};
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_EQ(bench.opens("/dev/ttyACM0"), 5);
}

TEST(SAM4LChipTable, NamesChipsAndSupportsOnlyThe128KiBSAM4L) {
    struct Case {
        std::uint32_t cidr, exid, cpuid;
        const char* name;
        int flashBytes;
        bool supported;
    };
    for (const Case& c : {
             Case{0xAB0A07E1, 0x0400000F, 0x410FC241, "ATSAM4LC2C", 131072, true},
             Case{0xAB0A07E0, 0x05000000, 0x410FC241, "ATSAM4Lx2", 131072, true},
             Case{0xAB0A09E0, 0x0400000F, 0x410FC241, "ATSAM4LC4C", 262144, false},
             // Not a Cortex-M4; a CIDR that differs above the revision bits; nothing at all.
             Case{0xAB0A07E0, 0x0400000F, 0x410FC231, "ATSAM4LC2C", 131072, false},
             Case{0xAB0A07C0, 0x0400000F, 0x410FC241, "unknown", 0, false},
             Case{0, 0, 0, "unknown", 0, false},
         }) {
        const DeviceIdentity identity = SAM4LChipTable::identify(c.cidr, c.exid, c.cpuid);
        EXPECT_EQ(identity.name, c.name) << std::hex << c.cidr;
        EXPECT_EQ(identity.flashBytes, c.flashBytes) << c.name;
        EXPECT_EQ(identity.isSupported15C(), c.supported) << c.name;
    }
}

} // namespace
} // namespace pelwick
