#pragma once

#include "device/SerialPort.h"

namespace pelwick {

/// Lists exactly one port, the one the user named with --port.
class SinglePortListing : public SerialPortListing {
public:
    explicit SinglePortListing(SerialPort port) : port_(std::move(port)) {}

    std::vector<SerialPort> listPorts() const override { return {port_}; }

private:
    SerialPort port_;
};

} // namespace pelwick
