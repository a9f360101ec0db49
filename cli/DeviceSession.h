#pragma once

#include "CommandLine.h"
#include "flasher/Flasher.h"
#include "samba/SambaClient.h"

#include <memory>
#include <optional>

namespace pelwick {

class SimulatedCalculatorTransport;

/// The flasher the global options describe (a cable in a device folder, one named port, or an
/// in-process simulated calculator) and the one connection a command holds, closed when the
/// session ends.
class DeviceSession {
public:
    /// `trace`, when given, traces every port opened and every conversation (Flasher::trace).
    explicit DeviceSession(const GlobalOptions& options, SambaClient::Trace trace = {});
    /// A session on a simulated calculator that the caller keeps (the demo command).
    DeviceSession(std::shared_ptr<SimulatedCalculatorTransport> simulator,
                  const GlobalOptions& options, SambaClient::Trace trace = {});
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    const Flasher& flasher() const { return flasher_; }

    /// Connects once (later calls return the same target). Fails like Flasher::connect.
    const ConnectedTarget& connect();
    /// Connects and refuses a chip that may not be backed up, written or verified.
    const ConnectedTarget& connectSupported();

    /// Closes the connection, if any.
    void close() noexcept;

private:
    Flasher flasher_;
    double timeout_;
    std::optional<std::string> namedPort_;
    std::optional<ConnectedTarget> target_;
};

} // namespace pelwick
