#include "DeviceSession.h"

#include "NamedPort.h"
#include "SinglePortListing.h"
#include "device/FlasherError.h"
#include "sim/SimulatedCalculatorTransport.h"

namespace pelwick {

namespace {

Flasher flasherFor(const GlobalOptions& options) {
    if (options.demo) {
        // The in-process calculator answers at once: --demo is for trying commands and scripts,
        // not for watching transfer times (the demo command simulates those).
        return Flasher::simulated(std::make_shared<SimulatedCalculatorTransport>(0.0, true));
    }
    Flasher flasher = Flasher::realCable(options.deviceDirectory);
    if (options.port) {
        flasher.ports = std::make_shared<SinglePortListing>(SerialPort{*options.port});
    }
    return flasher;
}

} // namespace

DeviceSession::DeviceSession(const GlobalOptions& options, SambaClient::Trace trace)
    : flasher_(flasherFor(options)), timeout_(options.timeout),
      namedPort_(options.demo ? std::nullopt : options.port) {
    flasher_.trace = std::move(trace);
    if (options.settle) {
        flasher_.flashCommandSettleSeconds = *options.settle;
    }
    flasher_.fastTransfer = options.fast;
}

DeviceSession::DeviceSession(std::shared_ptr<SimulatedCalculatorTransport> simulator,
                             const GlobalOptions& options, SambaClient::Trace trace)
    : flasher_(Flasher::simulated(std::move(simulator))), timeout_(options.timeout) {
    flasher_.trace = std::move(trace);
    if (options.settle) {
        flasher_.flashCommandSettleSeconds = *options.settle;
    }
    flasher_.fastTransfer = options.fast;
}

DeviceSession::~DeviceSession() {
    close();
}

const ConnectedTarget& DeviceSession::connect() {
    if (target_) {
        return *target_;
    }
    // A port the user named is tried whatever its name, once it is known to be a terminal.
    target_ = namedPort_ ? flasher_.connect(resolveNamedPort(*namedPort_), timeout_)
                         : flasher_.connect(timeout_);
    return *target_;
}

const ConnectedTarget& DeviceSession::connectSupported() {
    const ConnectedTarget& target = connect();
    const DeviceIdentity& identity = target.identity;
    if (!identity.isSupported15C()) {
        throw FlasherError::unsupportedDevice(identity.name, identity.cidr, identity.exid);
    }
    return target;
}

void DeviceSession::close() noexcept {
    if (target_) {
        target_->client->close();
        target_.reset();
    }
}

} // namespace pelwick
