#pragma once

#include "device/SerialPort.h"

#include <exception>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace pelwick {

/// The ports that were opened and did not answer as a SAM-BA monitor, each with its failure, so
/// that another device (a printer, a development board) is opened once, not on every attempt. A
/// port is forgotten when it leaves the listing or another device appears under its path (another
/// USB identity or another device node). Shared by the copies of a Flasher and locked, since
/// background jobs connect with copies of one.
class UnansweredPorts {
public:
    /// Remembers that `port` did not answer, with the error it failed with.
    void remember(const SerialPort& port, std::exception_ptr failure);
    /// Forgets every port that is not among `listed`, or is a different device now.
    void forgetAbsent(const std::vector<SerialPort>& listed);
    /// The failure of a remembered port that is still the same device; none otherwise.
    std::exception_ptr failureOf(const SerialPort& port) const;

private:
    // The device node behind a path (st_dev, st_ino): a node made anew when a device comes back
    // has another one.
    using NodeId = std::optional<std::pair<unsigned long long, unsigned long long>>;
    struct Entry {
        SerialPort port;
        NodeId node;
        std::exception_ptr failure;
    };

    static NodeId nodeOf(const SerialPort& port);
    static bool sameDevice(const Entry& entry, const SerialPort& port, const NodeId& node);

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace pelwick
