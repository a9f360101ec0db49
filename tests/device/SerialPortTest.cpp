#include "device/SerialPort.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using testing::TempDir;

std::vector<std::string> paths(const std::vector<SerialPort>& ports) {
    std::vector<std::string> result;
    for (const SerialPort& port : ports) {
        result.push_back(port.path);
    }
    return result;
}

TEST(DeviceSerialPortListing, ListsCallOutAndUSBSerialNodesInPathOrder) {
    TempDir dev;
    for (const char* name : {"cu.usbserial-A1", "tty.usbmodem101", "cu.Bluetooth-Incoming-Port",
                             "cu.usbmodem2101", "cu.usbmodem101", "CU.USBMODEM1", "ttyUSB0",
                             "ttyACM1", "ttyACM0", "ttyS0", "tty", "ttyacm9"}) {
        dev.write(name, {});
    }
    const std::string d = dev.path().string() + "/";
    const DeviceSerialPortListing listing(dev.path());
    const auto ports = listing.listPorts();
    EXPECT_EQ(paths(ports),
              (std::vector<std::string>{d + "cu.Bluetooth-Incoming-Port", d + "cu.usbmodem101",
                                        d + "cu.usbmodem2101", d + "cu.usbserial-A1", d + "ttyACM0",
                                        d + "ttyACM1", d + "ttyUSB0"}));
    EXPECT_EQ(paths(programmingCables(ports)),
              (std::vector<std::string>{d + "cu.usbmodem101", d + "cu.usbmodem2101",
                                        d + "cu.usbserial-A1", d + "ttyACM0", d + "ttyACM1",
                                        d + "ttyUSB0"}));
    // Modem ports first (stable: path order within a kind), then serial adapters.
    EXPECT_EQ(paths(preferredOrder(programmingCables(ports))),
              (std::vector<std::string>{d + "cu.usbmodem101", d + "cu.usbmodem2101", d + "ttyACM0",
                                        d + "ttyACM1", d + "cu.usbserial-A1", d + "ttyUSB0"}));
}

TEST(SerialPort, JudgesCablesByNameIgnoringCase) {
    const SerialPort upper{"/dev/CU.USBMODEM14101"};
    EXPECT_EQ(upper.name(), "CU.USBMODEM14101");
    EXPECT_TRUE(upper.isLikelyProgrammingCable());
    EXPECT_TRUE(upper.isModemPort());
    EXPECT_EQ(upper.rank(), 0);

    const SerialPort demo{"/dev/cu.usbmodemDEMO"};
    EXPECT_EQ(demo.name(), "cu.usbmodemDEMO");
    EXPECT_EQ(demo.rank(), 0);

    const SerialPort adapter{"/dev/cu.usbserial-1420"};
    EXPECT_TRUE(adapter.isLikelyProgrammingCable());
    EXPECT_FALSE(adapter.isModemPort());
    EXPECT_EQ(adapter.rank(), 1);
    EXPECT_EQ(SerialPort{"/dev/TTYUSB3"}.rank(), 1);
    EXPECT_TRUE(SerialPort{"/dev/ttyacm0"}.isModemPort());

    const SerialPort other{"/dev/cu.Bluetooth-Incoming-Port"};
    EXPECT_FALSE(other.isLikelyProgrammingCable());
    EXPECT_EQ(other.rank(), 2);
    EXPECT_FALSE(SerialPort{"/dev/tty.usbmodem101"}.isLikelyProgrammingCable());
    // The name is the last component, whatever the folders are called.
    EXPECT_FALSE(SerialPort{"/dev/cu.usbmodem/x"}.isLikelyProgrammingCable());
    EXPECT_EQ(SerialPort{"ttyACM0"}.name(), "ttyACM0");

    EXPECT_EQ(SerialPort{"/dev/a"}, SerialPort{"/dev/a"});
    EXPECT_FALSE(SerialPort{"/dev/a"} == SerialPort{"/dev//a"});
}

TEST(DeviceSerialPortListing, MissingOrEmptyFolders) {
    TempDir dev;
    EXPECT_TRUE(DeviceSerialPortListing(dev.path()).listPorts().empty());
    dev.write("ttyS0", {});
    dev.write("cu.Bluetooth-Incoming-Port", {});
    EXPECT_TRUE(programmingCables(DeviceSerialPortListing(dev.path()).listPorts()).empty());

    const DeviceSerialPortListing missing(dev / "absent");
    try {
        (void)missing.listPorts();
        FAIL() << "listing a missing folder succeeded";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(error.path1(), dev / "absent");
    }
}

} // namespace
} // namespace pelwick
