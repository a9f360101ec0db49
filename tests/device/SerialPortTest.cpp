#include "device/SerialPort.h"
#include "device/FlasherError.h"
#include "device/UsbIdentity.h"
#include "flasher/Flasher.h"
#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace pelwick {
namespace {

using testing::FakeSysfs;
using testing::TempDir;

std::vector<std::string> names(const std::vector<SerialPort>& ports) {
    std::vector<std::string> result;
    for (const SerialPort& port : ports) {
        result.push_back(port.name());
    }
    return result;
}

TEST(DeviceSerialPortListing, ListsCallOutAndUSBSerialNodesAndPrefersModemPorts) {
    TempDir dev;
    EXPECT_TRUE(DeviceSerialPortListing(dev.path()).listPorts().empty());
    for (const char* name : {"cu.usbserial-A1", "tty.usbmodem101", "cu.Bluetooth-Incoming-Port",
                             "cu.usbmodem2101", "cu.usbmodem101", "CU.USBMODEM1", "ttyUSB0",
                             "ttyACM1", "ttyACM0", "ttyS0", "tty", "ttyacm9"}) {
        dev.write(name, {});
    }
    const auto ports = DeviceSerialPortListing(dev.path()).listPorts();
    EXPECT_EQ(ports.front().path, (dev / "cu.Bluetooth-Incoming-Port").string());
    EXPECT_EQ(names(ports), (std::vector<std::string>{
                                "cu.Bluetooth-Incoming-Port", "cu.usbmodem101", "cu.usbmodem2101",
                                "cu.usbserial-A1", "ttyACM0", "ttyACM1", "ttyUSB0"}));
    // Modem ports first (stable: path order within a kind), then serial adapters.
    EXPECT_EQ(names(preferredOrder(programmingCables(ports))),
              (std::vector<std::string>{"cu.usbmodem101", "cu.usbmodem2101", "ttyACM0", "ttyACM1",
                                        "cu.usbserial-A1", "ttyUSB0"}));

    // A folder that cannot be read is an error, not a machine without ports.
    EXPECT_THROW(DeviceSerialPortListing(dev / "absent").listPorts(),
                 std::filesystem::filesystem_error);
}

TEST(SerialPort, JudgesCablesByTheLastNameIgnoringCase) {
    struct Case {
        std::string path, name;
        bool modem, cable;
        int rank;
    };
    for (const Case& c : std::vector<Case>{
             {"/dev/CU.USBMODEM14101", "CU.USBMODEM14101", true, true, 0},
             {"/dev/ttyacm0", "ttyacm0", true, true, 0},
             {"/dev/cu.usbserial-1420", "cu.usbserial-1420", false, true, 1},
             {"/dev/TTYUSB3", "TTYUSB3", false, true, 1},
             {"/dev/cu.Bluetooth-Incoming-Port", "cu.Bluetooth-Incoming-Port", false, false, 2},
             {"/dev/tty.usbmodem101", "tty.usbmodem101", false, false, 2},
             {"/dev/cu.usbmodem/x", "x", false, false, 2},
             {"ttyACM0", "ttyACM0", true, true, 0},
         }) {
        const SerialPort port{c.path};
        EXPECT_EQ(port.name(), c.name);
        EXPECT_EQ(port.isModemPort(), c.modem) << c.path;
        EXPECT_EQ(port.isLikelyProgrammingCable(), c.cable) << c.path;
        EXPECT_EQ(port.rank(), c.rank) << c.path;
    }
}

const FakeSysfs::UsbDevice sambaMonitor{"03eb", "6124", "ATMEL", "SAM-BA", std::nullopt};
const FakeSysfs::UsbDevice arduino{"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno",
                                   "85736323838351F0E1C1"};
const FakeSysfs::UsbDevice ftdiWithoutNames{"0403", "6001", std::nullopt, std::nullopt,
                                            std::nullopt};

TEST(UsbIdentity, ReadsTheIdsAndNamesOfTheUsbDeviceAboveThePort) {
    TempDir folder;
    FakeSysfs sysfs(folder.path());
    sysfs.addUsbPort("ttyACM0", "1-1", arduino, FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyUSB0", "1-2", ftdiWithoutNames, FakeSysfs::Driver::usbSerial);
    sysfs.addUsbPort("ttyACM1", "1-3", sambaMonitor, FakeSysfs::Driver::cdcAcm);
    sysfs.addPlatformPort("ttyS0");

    // ttyACM: the interface's parent; the strings lose the kernel's newline.
    EXPECT_EQ(readUsbIdentity(folder.path(), "ttyACM0"),
              (UsbIdentity{0x2341, 0x0043, "Arduino (www.arduino.cc)", "Arduino Uno",
                           "85736323838351F0E1C1"}));
    // ttyUSB sits one level deeper; missing strings are empty, not an error, and the walk stops
    // at the adapter rather than at the root hub above it.
    EXPECT_EQ(readUsbIdentity(folder.path(), "ttyUSB0"), (UsbIdentity{0x0403, 0x6001, "", "", ""}));
    const auto monitor = readUsbIdentity(folder.path(), "ttyACM1");
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(monitor->isSambaMonitor());
    EXPECT_EQ(monitor->description(), "03eb:6124 ATMEL SAM-BA");

    // Not USB, not known, or not a port name at all.
    for (const char* name : {"ttyS0", "ttyACM7", "", "../tty/ttyACM0"}) {
        EXPECT_FALSE(readUsbIdentity(folder.path(), name)) << name;
    }
    EXPECT_FALSE(readUsbIdentity(folder / "absent", "ttyACM0"));

    // An id must be four hexadecimal digits; upper case and a Windows line end are still the id.
    const auto idVendor = folder / "devices/pci0000:00/0000:00:14.0/usb1/1-3/idVendor";
    for (const char* bad : {"", "zz12", "103eb", "03eb x"}) {
        std::ofstream(idVendor) << bad << '\n';
        EXPECT_FALSE(readUsbIdentity(folder.path(), "ttyACM1")) << bad;
    }
    std::ofstream(idVendor) << "03EB\r\n";
    EXPECT_TRUE(readUsbIdentity(folder.path(), "ttyACM1")->isSambaMonitor());
}

TEST(UsbIdentity, TheSambaMonitorIsTriedBeforeAndInsteadOfEveryOtherPort) {
    TempDir folder;
    FakeSysfs sysfs(folder / "sys");
    std::filesystem::create_directories(folder / "dev");
    for (const char* name : {"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0", "ttyUSB1", "ttyS0"}) {
        folder.write(std::string("dev/") + name, {});
    }
    sysfs.addUsbPort("ttyACM0", "1-1", arduino, FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyACM1", "1-4", sambaMonitor, FakeSysfs::Driver::cdcAcm);
    // ttyACM2 has no sysfs entry at all.
    sysfs.addUsbPort("ttyUSB0", "1-2", ftdiWithoutNames, FakeSysfs::Driver::usbSerial);
    // A monitor seen through a driver that names it ttyUSB: still confirmed by its id.
    sysfs.addUsbPort("ttyUSB1", "1-5", sambaMonitor, FakeSysfs::Driver::usbSerial);
    sysfs.addPlatformPort("ttyS0");

    const DeviceSerialPortListing listing(folder / "dev", folder / "sys");
    const auto ports = listing.listPorts();
    EXPECT_FALSE(ports[2].usb) << "a port without a sysfs entry is listed without an identity";
    // Confirmed monitors first (in path order), then the named order: modem ports, adapters.
    EXPECT_EQ(names(preferredOrder(programmingCables(ports))),
              (std::vector<std::string>{"ttyACM1", "ttyUSB1", "ttyACM0", "ttyACM2", "ttyUSB0"}));
    // Without identities nothing is confirmed and nothing is reordered.
    EXPECT_EQ(names(preferredOrder(programmingCables(
                  DeviceSerialPortListing(folder / "dev", folder / "absent").listPorts()))),
              (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0", "ttyUSB1"}));

    // While the monitor is listed, a connection opens only the ports with its id, in that order.
    std::vector<std::string> attempts;
    Flasher flasher{std::make_shared<DeviceSerialPortListing>(listing), true,
                    [&](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                        attempts.push_back(port.name());
                        throw FlasherError::serialOpenFailed(port.path);
                    },
                    0.0};
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_EQ(attempts, (std::vector<std::string>{"ttyACM1", "ttyUSB1"}));
}

} // namespace
} // namespace pelwick
