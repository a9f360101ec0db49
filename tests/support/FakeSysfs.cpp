#include "support/FakeSysfs.h"

#include <fstream>

namespace pelwick::testing {

namespace fs = std::filesystem;

namespace {

void writeAttribute(const fs::path& file, const std::string& value) {
    std::ofstream(file) << value << '\n';
}

} // namespace

FakeSysfs::FakeSysfs(fs::path root)
    : root_(std::move(root)), bus_(root_ / "devices/pci0000:00/0000:00:14.0/usb1") {
    fs::create_directories(bus_);
    fs::create_directories(root_ / "class/tty");
    // The root hub answers to ids too; a reader must stop at the port's own device below it.
    writeAttribute(bus_ / "idVendor", "1d6b");
    writeAttribute(bus_ / "idProduct", "0002");
    writeAttribute(bus_ / "manufacturer", "Linux 6.1.0-18-amd64 xhci-hcd");
    writeAttribute(bus_ / "product", "xHCI Host Controller");
}

void FakeSysfs::addUsbPort(const std::string& portName, const std::string& busPort,
                           const UsbDevice& device, Driver driver) {
    const fs::path usbDevice = bus_ / busPort;
    const fs::path interface = usbDevice / (busPort + ":1.0");
    fs::create_directories(interface);
    writeAttribute(usbDevice / "idVendor", device.idVendor);
    writeAttribute(usbDevice / "idProduct", device.idProduct);
    if (device.manufacturer) {
        writeAttribute(usbDevice / "manufacturer", *device.manufacturer);
    }
    if (device.product) {
        writeAttribute(usbDevice / "product", *device.product);
    }
    if (device.serial) {
        writeAttribute(usbDevice / "serial", *device.serial);
    }
    writeAttribute(interface / "bInterfaceClass", driver == Driver::cdcAcm ? "02" : "ff");
    if (driver == Driver::cdcAcm) {
        // .../1-1:1.0/tty/ttyACM0, device -> ../../../1-1:1.0
        linkClassEntry(portName, interface / "tty" / portName,
                       fs::path("../../..") / interface.filename());
    } else {
        // .../1-2:1.0/ttyUSB0/tty/ttyUSB0, device -> ../../../ttyUSB0
        fs::create_directories(interface / portName);
        linkClassEntry(portName, interface / portName / "tty" / portName,
                       fs::path("../../..") / portName);
    }
}

void FakeSysfs::addPlatformPort(const std::string& portName) {
    const fs::path board = root_ / "devices/platform/serial8250";
    fs::create_directories(board);
    linkClassEntry(portName, board / "tty" / portName, "../../../serial8250");
}

void FakeSysfs::linkClassEntry(const std::string& portName, const fs::path& ttyFolder,
                               const fs::path& deviceTarget) {
    fs::create_directories(ttyFolder);
    writeAttribute(ttyFolder / "dev", "166:0");
    fs::create_directory_symlink(deviceTarget, ttyFolder / "device");
    // class/tty/<name> -> ../../devices/...
    fs::create_directory_symlink(fs::path("../..") / fs::relative(ttyFolder, root_),
                                 root_ / "class/tty" / portName);
}

} // namespace pelwick::testing
