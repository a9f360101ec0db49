#pragma once

#include "device/UsbIdentity.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelwick {

/// A serial device node, known by its path.
struct SerialPort {
    SerialPort() = default;
    SerialPort(std::string path, std::optional<UsbIdentity> usb = std::nullopt)
        : path(std::move(path)), usb(std::move(usb)) {}

    std::string path;
    /// The USB device behind the port, when the system says (Linux sysfs).
    std::optional<UsbIdentity> usb;

    /// The last path component ("ttyACM0", "cu.usbmodem14201").
    std::string name() const;

    /// A USB modem port: the kind the calculator's SAM-BA monitor appears as ("cu.usbmodem*",
    /// "ttyACM*", case-insensitive), or a port whose USB id is the SAM-BA monitor's. Only these
    /// are tried for a connection.
    bool isModemPort() const;

    /// The USB id says this is the SAM-BA monitor (03eb:6124).
    bool isConfirmedSambaPort() const { return usb && usb->isSambaMonitor(); }

    /// A USB modem port or a USB serial adapter ("cu.usbserial*", "ttyUSB*").
    bool isLikelyProgrammingCable() const;

    /// Preference among cables: 0 for a modem port, 1 for a serial adapter, 2 for anything else.
    int rank() const;

    /// Ports are the same when their paths are.
    bool operator==(const SerialPort& other) const { return path == other.path; }
};

/// The ports that look like a programming cable, in the order given.
std::vector<SerialPort> programmingCables(const std::vector<SerialPort>& ports);

/// The same ports ordered by preference: confirmed SAM-BA ports first, then modem ports, then
/// serial adapters; a stable sort, so ports of one kind keep their order.
std::vector<SerialPort> preferredOrder(std::vector<SerialPort> cables);

/// The listed ports a connection may open, in the order it tries them: the USB modem ports, by
/// preference. While a port with the SAM-BA monitor's USB id is listed, only such ports: opening
/// a port raises its modem lines, which resets many boards, so no other device is disturbed then.
std::vector<SerialPort> connectionCandidates(const std::vector<SerialPort>& ports);

/// Whether `path` leads, through any symbolic links, to a terminal device (a serial port or a
/// pseudo-terminal), judged from the node and `sysfsRoot` without opening it.
bool isTerminalDevice(const std::filesystem::path& path,
                      const std::filesystem::path& sysfsRoot = "/sys");

/// Where candidate ports come from: the device folder, or the simulated calculator's one port.
class SerialPortListing {
public:
    virtual ~SerialPortListing() = default;
    /// The ports, sorted by path. May fail.
    virtual std::vector<SerialPort> listPorts() const = 0;
};

/// Lists the serial device nodes of a folder by name: names beginning with "cu." (as on macOS)
/// and the Linux USB serial nodes "ttyACM*" and "ttyUSB*", each with its USB identity from sysfs
/// where there is one. Nothing is opened.
class DeviceSerialPortListing : public SerialPortListing {
public:
    explicit DeviceSerialPortListing(std::filesystem::path deviceDirectory = "/dev",
                                     std::filesystem::path sysfsRoot = "/sys")
        : deviceDirectory_(std::move(deviceDirectory)), sysfsRoot_(std::move(sysfsRoot)) {}

    /// Fails with the file system's error when the folder cannot be read.
    std::vector<SerialPort> listPorts() const override;

    const std::filesystem::path& deviceDirectory() const { return deviceDirectory_; }

private:
    std::filesystem::path deviceDirectory_;
    std::filesystem::path sysfsRoot_;
};

} // namespace pelwick
