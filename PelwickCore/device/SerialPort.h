#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pelwick {

/// A serial device node, known by its path.
struct SerialPort {
    std::string path;

    /// The last path component ("ttyACM0", "cu.usbmodem14201").
    std::string name() const;

    /// A USB modem port: the kind the calculator's SAM-BA monitor appears as ("cu.usbmodem*",
    /// "ttyACM*", case-insensitive). Only these are tried for a connection.
    bool isModemPort() const;

    /// A USB modem port or a USB serial adapter ("cu.usbserial*", "ttyUSB*").
    bool isLikelyProgrammingCable() const;

    /// Preference among cables: 0 for a modem port, 1 for a serial adapter, 2 for anything else.
    int rank() const;

    bool operator==(const SerialPort& other) const = default;
};

/// The ports that look like a programming cable, in the order given.
std::vector<SerialPort> programmingCables(const std::vector<SerialPort>& ports);

/// The same ports ordered by preference: modem ports first, then serial adapters; a stable sort,
/// so ports of one kind keep their order.
std::vector<SerialPort> preferredOrder(std::vector<SerialPort> cables);

/// Where candidate ports come from: the device folder, or the simulated calculator's one port.
class SerialPortListing {
public:
    virtual ~SerialPortListing() = default;
    /// The ports, sorted by path. May fail.
    virtual std::vector<SerialPort> listPorts() const = 0;
};

/// Lists the serial device nodes of a folder by name alone: names beginning with "cu." (as on
/// macOS) and the Linux USB serial nodes "ttyACM*" and "ttyUSB*". Nothing is opened.
class DeviceSerialPortListing : public SerialPortListing {
public:
    explicit DeviceSerialPortListing(std::filesystem::path deviceDirectory = "/dev")
        : deviceDirectory_(std::move(deviceDirectory)) {}

    /// Fails with the file system's error when the folder cannot be read.
    std::vector<SerialPort> listPorts() const override;

    const std::filesystem::path& deviceDirectory() const { return deviceDirectory_; }

private:
    std::filesystem::path deviceDirectory_;
};

} // namespace pelwick
