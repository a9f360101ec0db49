#include "device/UsbIdentity.h"
#include "device/FlasherError.h"
#include "device/SerialPort.h"
#include "flasher/Flasher.h"
#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace pelwick {
namespace {

using testing::FakeSysfs;
using testing::TempDir;

const FakeSysfs::UsbDevice sambaMonitor{"03eb", "6124", "ATMEL", "SAM-BA", std::nullopt};
const FakeSysfs::UsbDevice arduino{"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno",
                                   "85736323838351F0E1C1"};
const FakeSysfs::UsbDevice ftdiWithoutNames{"0403", "6001", std::nullopt, std::nullopt,
                                            std::nullopt};

std::vector<std::string> names(const std::vector<SerialPort>& ports) {
    std::vector<std::string> result;
    for (const SerialPort& port : ports) {
        result.push_back(port.name());
    }
    return result;
}

TEST(UsbIdentity, ReadsTheIdsAndNamesOfTheUsbDeviceAboveThePort) {
    TempDir folder;
    FakeSysfs sysfs(folder.path());
    sysfs.addUsbPort("ttyACM0", "1-1", arduino, FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyUSB0", "1-2", ftdiWithoutNames, FakeSysfs::Driver::usbSerial);
    sysfs.addUsbPort("ttyACM1", "1-3", sambaMonitor, FakeSysfs::Driver::cdcAcm);
    sysfs.addPlatformPort("ttyS0");

    // ttyACM: the interface's parent; the strings lose the kernel's newline.
    const auto uno = readUsbIdentity(folder.path(), "ttyACM0");
    ASSERT_TRUE(uno);
    EXPECT_EQ(*uno, (UsbIdentity{0x2341, 0x0043, "Arduino (www.arduino.cc)", "Arduino Uno",
                                 "85736323838351F0E1C1"}));
    EXPECT_FALSE(uno->isSambaMonitor());
    EXPECT_EQ(uno->description(),
              "2341:0043 Arduino (www.arduino.cc) Arduino Uno (serial 85736323838351F0E1C1)");

    // ttyUSB sits one level deeper; missing strings are empty, not an error, and the walk stops
    // at the adapter rather than at the root hub above it.
    const auto adapter = readUsbIdentity(folder.path(), "ttyUSB0");
    ASSERT_TRUE(adapter);
    EXPECT_EQ(*adapter, (UsbIdentity{0x0403, 0x6001, "", "", ""}));
    EXPECT_EQ(adapter->description(), "0403:6001");

    const auto monitor = readUsbIdentity(folder.path(), "ttyACM1");
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(monitor->isSambaMonitor());
    EXPECT_EQ(monitor->idText(), "03eb:6124");
    EXPECT_EQ(monitor->description(), "03eb:6124 ATMEL SAM-BA");

    // Not USB, not known, or not a port name at all.
    EXPECT_FALSE(readUsbIdentity(folder.path(), "ttyS0"));
    EXPECT_FALSE(readUsbIdentity(folder.path(), "ttyACM7"));
    EXPECT_FALSE(readUsbIdentity(folder.path(), ""));
    EXPECT_FALSE(readUsbIdentity(folder.path(), "../tty/ttyACM0"));
    EXPECT_FALSE(readUsbIdentity(folder / "absent", "ttyACM0"));
}

TEST(UsbIdentity, RefusesIdsThatAreNotFourHexDigits) {
    TempDir folder;
    FakeSysfs sysfs(folder.path());
    sysfs.addUsbPort("ttyACM0", "1-1", {"03eb", "6124", {}, {}, {}}, FakeSysfs::Driver::cdcAcm);
    const auto idVendor = folder / "devices/pci0000:00/0000:00:14.0/usb1/1-1/idVendor";
    ASSERT_TRUE(readUsbIdentity(folder.path(), "ttyACM0"));
    for (const char* bad : {"", "zz12", "103eb", "03eb x"}) {
        std::ofstream(idVendor) << bad << '\n';
        EXPECT_FALSE(readUsbIdentity(folder.path(), "ttyACM0")) << bad;
    }
    // Upper case and a Windows line end are still the id.
    std::ofstream(idVendor) << "03EB\r\n";
    const auto identity = readUsbIdentity(folder.path(), "ttyACM0");
    ASSERT_TRUE(identity);
    EXPECT_TRUE(identity->isSambaMonitor());
}

struct FakeMachine {
    FakeMachine() : sysfs(folder / "sys") {
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
    }

    DeviceSerialPortListing listing() const {
        return DeviceSerialPortListing(folder / "dev", folder / "sys");
    }

    TempDir folder;
    FakeSysfs sysfs;
};

TEST(UsbIdentity, TheSambaMonitorIsTriedBeforeEveryOtherPort) {
    FakeMachine machine;
    const auto ports = machine.listing().listPorts();
    ASSERT_EQ(names(ports),
              (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(ports[0].usb->vendorId, 0x2341);
    EXPECT_TRUE(ports[1].isConfirmedSambaPort());
    EXPECT_FALSE(ports[2].usb) << "a port without a sysfs entry is listed without an identity";
    EXPECT_FALSE(ports[2].isConfirmedSambaPort());
    EXPECT_TRUE(ports[4].isConfirmedSambaPort());
    EXPECT_TRUE(ports[4].isModemPort());

    // Confirmed monitors first (in path order), then the named order: modem ports, adapters.
    EXPECT_EQ(names(preferredOrder(programmingCables(ports))),
              (std::vector<std::string>{"ttyACM1", "ttyUSB1", "ttyACM0", "ttyACM2", "ttyUSB0"}));

    // While the monitor is listed, a connection opens only the ports with its id, in that order.
    std::vector<std::string> attempts;
    Flasher flasher{std::make_shared<DeviceSerialPortListing>(machine.listing()), true,
                    [&](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                        attempts.push_back(port.name());
                        throw FlasherError::serialOpenFailed(port.path);
                    },
                    0.0};
    EXPECT_EQ(flasher.requireProgrammingCable().name(), "ttyACM1");
    EXPECT_THROW(flasher.connect(0.1), FlasherError);
    EXPECT_EQ(attempts, (std::vector<std::string>{"ttyACM1", "ttyUSB1"}));
}

TEST(UsbIdentity, WithoutIdentitiesTheNamedOrderHolds) {
    // The same nodes against an empty sysfs: nothing is confirmed, nothing is reordered.
    FakeMachine machine;
    TempDir emptySysfs;
    const auto ports =
        DeviceSerialPortListing(machine.folder / "dev", emptySysfs.path()).listPorts();
    for (const SerialPort& port : ports) {
        EXPECT_FALSE(port.usb) << port.path;
    }
    EXPECT_EQ(names(preferredOrder(programmingCables(ports))),
              (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0", "ttyUSB1"}));
}

} // namespace
} // namespace pelwick
