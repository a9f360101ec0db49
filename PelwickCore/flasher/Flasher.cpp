#include "flasher/Flasher.h"

#include "device/FlasherError.h"
#include "device/POSIXSerialLink.h"
#include "flash/FlashCalw.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "util/FileIO.h"

#include <exception>

namespace pelwick {

namespace {

// Closes a connection this call opened itself, whatever the outcome of `work`.
template <typename Work> auto closingAfter(const ConnectedTarget& target, Work&& work) {
    struct Closer {
        const ConnectedTarget& target;
        ~Closer() { target.client->close(); }
    } closer{target};
    return work(*target.client);
}

FlashCalw::Progress forwarding(const FlashProgress& progress, FlashProgressPhase phase) {
    if (!progress) {
        return {};
    }
    return [progress, phase](double fraction) { progress(fraction, phase); };
}

} // namespace

std::unique_ptr<ByteTransport> Flasher::openSerialLink(const SerialPort& port) {
    return std::make_unique<POSIXSerialLink>(port.path, 115200);
}

Flasher Flasher::realCable(std::filesystem::path deviceDirectory) {
    return Flasher{std::make_shared<DeviceSerialPortListing>(std::move(deviceDirectory)), true,
                   &Flasher::openSerialLink, cableSettleSeconds};
}

Flasher Flasher::simulated(std::shared_ptr<SimulatedCalculatorTransport> simulator) {
    // The simulated port disturbs nobody and never comes back, so it is never left alone.
    return Flasher{std::make_shared<SimulatedPortListing>(), true,
                   [simulator](const SerialPort&) -> std::unique_ptr<ByteTransport> {
                       return std::make_unique<SharedTransport>(simulator);
                   },
                   0.0, nullptr};
}

std::vector<SerialPort> Flasher::listProgrammingCables() const {
    return programmingCables(ports->listPorts());
}

std::vector<SerialPort> Flasher::preferredProgrammingCables() const {
    return preferredOrder(listProgrammingCables());
}

SerialPort Flasher::requireProgrammingCable() const {
    const auto cables = preferredProgrammingCables();
    if (cables.empty()) {
        throw FlasherError::noProgrammingCable();
    }
    return cables.front();
}

ConnectedTarget Flasher::connect(double timeout) const {
    const std::vector<SerialPort> listed = ports->listPorts();
    const std::vector<SerialPort> candidates = connectionCandidates(listed);
    if (candidates.empty()) {
        throw FlasherError::noProgrammingCable();
    }
    if (unansweredPorts) {
        unansweredPorts->forgetAbsent(listed);
    }
    std::exception_ptr lastError;
    for (const SerialPort& port : candidates) {
        if (unansweredPorts) {
            if (auto failure = unansweredPorts->failureOf(port)) {
                lastError = std::move(failure);
                continue;
            }
        }
        try {
            return connectTo(port, timeout, unansweredPorts != nullptr);
        } catch (...) {
            lastError = std::current_exception();
        }
    }
    std::rethrow_exception(lastError);
}

ConnectedTarget Flasher::connect(const SerialPort& port, double timeout) const {
    return connectTo(port, timeout, false);
}

ConnectedTarget Flasher::connectTo(const SerialPort& port, double timeout,
                                   bool rememberSilence) const {
    if (trace) {
        trace("open " + port.path);
    }
    std::unique_ptr<ByteTransport> transport = openTransport(port);
    auto client = std::make_shared<SambaClient>(std::move(transport), sleep);
    client->setTrace(trace);
    try {
        try {
            client->connect(timeout);
        } catch (const FlasherError& error) {
            // No answer, or none that a monitor gives: some other device, which is not opened
            // again (its modem lines raised) until it comes back. The calculator itself, known by
            // its USB id, is always tried again.
            const bool notAMonitor = error.kind() == FlasherError::Case::sambaTimeout ||
                                     error.kind() == FlasherError::Case::sambaProtocol;
            if (rememberSilence && notAMonitor && !port.isConfirmedSambaPort()) {
                unansweredPorts->remember(port, std::current_exception());
            }
            throw;
        }
        const DeviceIdentity identity = FlashCalw(*client, 0).identify();
        return ConnectedTarget{port, client, identity};
    } catch (...) {
        client->close();
        throw;
    }
}

ConnectedTarget Flasher::connectSupported(double timeout) const {
    ConnectedTarget target = connect(timeout);
    if (!target.identity.isSupported15C()) {
        target.client->close();
        throw FlasherError::unsupportedDevice(target.identity.name, target.identity.cidr,
                                              target.identity.exid);
    }
    return target;
}

FlashPlan Flasher::planWrite(const std::filesystem::path& firmwareURL,
                             std::uint32_t address) const {
    return planWrite(FirmwareImage::load(firmwareURL, requireExactFirmwareSize), address);
}

FlashPlan Flasher::planWrite(FirmwareImage image, std::uint32_t address) const {
    FirmwareImage::validate(image.data, requireExactFirmwareSize);
    if (!FlashLayout::isSafeApplicationRange(address,
                                             static_cast<std::uint32_t>(image.data.size()))) {
        throw FlasherError::writeWouldTouchBootloader(address);
    }
    std::optional<SerialPort> port;
    try {
        port = requireProgrammingCable();
    } catch (const std::exception&) {
        // A plan without a cable is still a valid plan; the write decides what that means.
    }
    return FlashPlan{std::move(image), address, std::move(port)};
}

void Flasher::write(const FirmwareImage& image, std::uint32_t address,
                    std::shared_ptr<SambaClient> client, bool verify, const FlashProgress& progress,
                    const FlashPageProgress& pageProgress,
                    const TransferPace::FallbackHandler& onPaceFallback) const {
    const FlashPlan plan = planWrite(image, address);
    auto writeOn = [&](SambaClient& samba) {
        FlashCalw driver(samba, flashCommandSettleSeconds);
        driver.setFastTransfer(fastTransfer, onPaceFallback);
        driver.writeApplication(plan.image.data, forwarding(progress, FlashProgressPhase::writing),
                                forwarding(progress, FlashProgressPhase::verifying), pageProgress,
                                verify);
    };
    if (client) {
        writeOn(*client);
        return;
    }
    if (!plan.port) {
        throw FlasherError::noProgrammingCable();
    }
    closingAfter(connectSupported(3.0), writeOn);
}

void Flasher::verify(const FirmwareImage& image, std::uint32_t address,
                     std::shared_ptr<SambaClient> client, const FlashProgress& progress) const {
    const FlashPlan plan = planWrite(image, address);
    auto verifyOn = [&](SambaClient& samba) {
        FlashCalw(samba, flashCommandSettleSeconds)
            .verifyApplication(plan.image.data,
                               forwarding(progress, FlashProgressPhase::verifying));
    };
    if (client) {
        verifyOn(*client);
        return;
    }
    closingAfter(connectSupported(3.0), verifyOn);
}

Bytes Flasher::readApplication(std::shared_ptr<SambaClient> client,
                               const FlashProgress& progress) const {
    auto readOn = [&](SambaClient& samba) {
        FlashCalw driver(samba, flashCommandSettleSeconds);
        const DeviceIdentity identity = driver.identify();
        if (!identity.isSupported15C()) {
            throw FlasherError::unsupportedDevice(identity.name, identity.cidr, identity.exid);
        }
        return driver.readApplication(forwarding(progress, FlashProgressPhase::reading));
    };
    if (client) {
        return readOn(*client);
    }
    return closingAfter(connectSupported(3.0), readOn);
}

Bytes Flasher::read(const std::filesystem::path& url, std::shared_ptr<SambaClient> client,
                    const FlashProgress& progress) const {
    Bytes data = readApplication(std::move(client), progress);
    writeFileAtomically(url, data);
    return data;
}

} // namespace pelwick
