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

TEST(UsbIdentity, IsReadFromSysfsAndPutsTheSambaMonitorBeforeAndInsteadOfEveryOtherPort) {
    TempDir folder;
    FakeSysfs sysfs(folder / "sys");
    std::filesystem::create_directories(folder / "dev");
    for (const char* name : {"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0", "ttyUSB1", "ttyS0"}) {
        folder.write(std::string("dev/") + name, {});
    }
    const FakeSysfs::UsbDevice monitor{"03eb", "6124", "ATMEL", "SAM-BA", std::nullopt};
    sysfs.addUsbPort("ttyACM0", "1-1",
                     {"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "8573F0E1C1"},
                     FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyACM1", "1-4", monitor, FakeSysfs::Driver::cdcAcm);
    // ttyACM2 has no sysfs entry at all.
    sysfs.addUsbPort("ttyUSB0", "1-2", {"0403", "6001", {}, {}, {}}, FakeSysfs::Driver::usbSerial);
    // A monitor seen through a driver that names it ttyUSB: still confirmed by its id.
    sysfs.addUsbPort("ttyUSB1", "1-5", monitor, FakeSysfs::Driver::usbSerial);
    sysfs.addPlatformPort("ttyS0");

    // ttyACM: the interface's parent; the strings lose the kernel's newline. ttyUSB sits one
    // level deeper; missing strings are empty, not an error, and the walk stops at the adapter
    // rather than at the root hub above it.
    const auto sys = folder / "sys";
    EXPECT_EQ(
        readUsbIdentity(sys, "ttyACM0"),
        (UsbIdentity{0x2341, 0x0043, "Arduino (www.arduino.cc)", "Arduino Uno", "8573F0E1C1"}));
    EXPECT_EQ(readUsbIdentity(sys, "ttyUSB0"), (UsbIdentity{0x0403, 0x6001, "", "", ""}));
    EXPECT_EQ(readUsbIdentity(sys, "ttyACM1")->description(), "03eb:6124 ATMEL SAM-BA");
    // Not USB, not known, or not a port name at all.
    for (const char* name : {"ttyS0", "ttyACM2", "", "../tty/ttyACM0"}) {
        EXPECT_FALSE(readUsbIdentity(sys, name)) << name;
    }
    // An id must be four hexadecimal digits; upper case and a Windows line end are still the id
    // (the last, which stays for what follows).
    const auto idVendor = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-4/idVendor";
    for (const char* bad : {"", "zz12", "103eb", "03eb x", "03EB\r"}) {
        std::ofstream(idVendor) << bad << '\n';
        EXPECT_EQ(readUsbIdentity(sys, "ttyACM1").has_value(), std::string(bad).ends_with('\r'));
    }

    const DeviceSerialPortListing listing(folder / "dev", sys);
    // Confirmed monitors first (in path order), then the named order: modem ports, adapters.
    EXPECT_EQ(names(preferredOrder(programmingCables(listing.listPorts()))),
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
