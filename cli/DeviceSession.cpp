#include "DeviceSession.h"

#include "SinglePortListing.h"
#include "device/FlasherError.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <stdexcept>

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

DeviceSession::DeviceSession(const GlobalOptions& options)
    : flasher_(flasherFor(options)), timeout_(options.timeout),
      namedPort_(options.demo ? std::nullopt : options.port) {
    if (options.settle) {
        flasher_.flashCommandSettleSeconds = *options.settle;
    }
}

DeviceSession::DeviceSession(std::shared_ptr<SimulatedCalculatorTransport> simulator,
                             const GlobalOptions& options)
    : flasher_(Flasher::simulated(std::move(simulator))), timeout_(options.timeout) {
    if (options.settle) {
        flasher_.flashCommandSettleSeconds = *options.settle;
    }
}

DeviceSession::~DeviceSession() {
    close();
}

const ConnectedTarget& DeviceSession::connect() {
    if (target_) {
        return *target_;
    }
    // Only USB modem ports are tried; say so instead of "no cable" when the user named another.
    if (namedPort_ && !SerialPort{*namedPort_}.isModemPort()) {
        throw std::runtime_error(
            *namedPort_ +
            " is not a USB modem port. The calculator's monitor appears as a ttyACM… (or "
            "cu.usbmodem…) device; pass that device with --port.");
    }
    target_ = flasher_.connect(timeout_);
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
