#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pelwick {

/// What the USB bus says about the device behind a serial port.
struct UsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;

    /// The Atmel SAM-BA monitor (03eb:6124): a calculator in programming mode.
    bool isSambaMonitor() const { return vendorId == 0x03EB && productId == 0x6124; }
    /// "03eb:6124".
    std::string idText() const;
    /// "03eb:6124 Atmel Corp. · SAM-BA …": the id and whatever names the device gives, escaped
    /// (escapedDeviceText) so that they can be shown as they are.
    std::string description() const;

    bool operator==(const UsbIdentity& other) const = default;
};

/// Reads the USB identity of the serial port `portName` ("ttyACM0") from a sysfs tree (normally
/// "/sys"): class/tty/<name>/device leads to the USB interface, whose ancestor holds idVendor,
/// idProduct and the optional manufacturer, product and serial strings. None for ports that are
/// not USB devices or that sysfs does not know.
std::optional<UsbIdentity> readUsbIdentity(const std::filesystem::path& sysfsRoot,
                                           const std::string& portName);

} // namespace pelwick
