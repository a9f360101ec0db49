#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pelwick::testing {

/// A sysfs tree in a folder, laid out as Linux lays it out for serial ports: class/tty/<name> is a
/// symbolic link into devices/, whose `device` link leads to the USB interface (ttyACM) or to
/// the adapter's own node one level below it (ttyUSB); the USB device that holds idVendor and
/// the name strings is the interface's parent, below a root hub that has ids of its own.
class FakeSysfs {
public:
    /// What a USB device's sysfs folder holds; a missing string is a missing file.
    struct UsbDevice {
        std::string idVendor;
        std::string idProduct;
        std::optional<std::string> manufacturer;
        std::optional<std::string> product;
        std::optional<std::string> serial;
    };

    enum class Driver { cdcAcm, usbSerial };

    /// Creates the skeleton (one bus with its root hub) under `root`.
    explicit FakeSysfs(std::filesystem::path root);

    /// A USB serial port `portName` on the bus port `busPort` ("1-2"); every file ends in a
    /// newline, as the kernel writes them.
    void addUsbPort(const std::string& portName, const std::string& busPort,
                    const UsbDevice& device, Driver driver);
    /// A serial port on the main board (ttyS*): known to sysfs, but no USB device above it.
    void addPlatformPort(const std::string& portName);

private:
    void linkClassEntry(const std::string& portName, const std::filesystem::path& ttyFolder,
                        const std::filesystem::path& deviceTarget);

    std::filesystem::path root_;
    std::filesystem::path bus_;
};

} // namespace pelwick::testing
