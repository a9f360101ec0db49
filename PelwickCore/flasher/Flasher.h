#pragma once

#include "device/ByteTransport.h"
#include "device/SerialPort.h"
#include "device/UnansweredPorts.h"
#include "flash/DeviceIdentity.h"
#include "flash/FlashLayout.h"
#include "samba/SambaClient.h"
#include "samba/TransferPace.h"
#include "util/Clock.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace pelwick {

class SimulatedCalculatorTransport;

/// Which pass a progress value belongs to, so that one bar can follow reading, writing and
/// verifying.
enum class FlashProgressPhase { reading, writing, verifying };

using FlashProgress = std::function<void(double fraction, FlashProgressPhase phase)>;
using FlashPageProgress = std::function<void(const FlashPageWrite& page)>;

/// A calculator that answered: the port, the live client (which owns the open transport) and the
/// chip. Whoever receives it owns the connection and must close the client.
struct ConnectedTarget {
    SerialPort port;
    std::shared_ptr<SambaClient> client;
    DeviceIdentity identity;
};

/// The device facade: where ports come from, how a port is opened, and the operations that back
/// up, write and verify a calculator. Holds no connection state.
struct Flasher {
    using TransportOpener = std::function<std::unique_ptr<ByteTransport>(const SerialPort&)>;

    std::shared_ptr<const SerialPortListing> ports;
    bool requireExactFirmwareSize = true;
    TransportOpener openTransport;
    double flashCommandSettleSeconds = 0.01;
    /// The ports that did not answer as a monitor, left alone until they come back; shared by
    /// the copies of this Flasher. None: every candidate is tried on every connect.
    std::shared_ptr<UnansweredPorts> unansweredPorts = std::make_shared<UnansweredPorts>();
    /// Writes leave out the settle pauses while the calculator keeps up, and fall back to them
    /// when it does not (TransferPace).
    bool fastTransfer = false;
    /// How the clients this Flasher connects pause (a test or a simulation records instead).
    SleepFunction sleep = sleepFor;

    /// The settle time of a real cable.
    static constexpr double cableSettleSeconds = 0.01;
    /// Traces every port opened and the conversation of every client made (none: no trace).
    SambaClient::Trace trace{};

    /// Opens a serial link at 115,200 baud on the port's path.
    static std::unique_ptr<ByteTransport> openSerialLink(const SerialPort& port);

    /// The real cable: ports listed from `deviceDirectory`, serial links, the cable's settle.
    static Flasher realCable(std::filesystem::path deviceDirectory = "/dev");
    /// DEMO: the simulated calculator's one port, which always opens `simulator`, no settle, and
    /// no memory of ports that did not answer.
    static Flasher simulated(std::shared_ptr<SimulatedCalculatorTransport> simulator);

    /// Listed ports that look like a programming cable; listing errors pass through.
    std::vector<SerialPort> listProgrammingCables() const;
    /// The same, modem ports first.
    std::vector<SerialPort> preferredProgrammingCables() const;
    /// The preferred cable, or noProgrammingCable.
    SerialPort requireProgrammingCable() const;

    /// Tries the connection candidates (connectionCandidates) in order: opens, connects the
    /// monitor, identifies the chip. The first that answers wins; otherwise the last port's error.
    /// A port that was opened and did not answer as a monitor (and is not the monitor by its USB
    /// id) is remembered and skipped, failing as it did, until it leaves the listing.
    ConnectedTarget connect(double timeout) const;
    /// Connects to exactly this port, whatever its name: the one a user named.
    ConnectedTarget connect(const SerialPort& port, double timeout) const;

    /// Loads and checks a firmware file for a write at `address`.
    FlashPlan planWrite(const std::filesystem::path& firmwareURL, std::uint32_t address) const;
    /// Checks an image already loaded (and judged) for a write at `address`.
    FlashPlan planWrite(FirmwareImage image, std::uint32_t address) const;

    /// The operations below work on `client` when given one (and leave it open) or connect by
    /// themselves and close what they opened on every outcome. They write and compare exactly the
    /// bytes of `image`, which the caller loaded once; the file is never read again here. A fast
    /// write that falls back tells `onPaceFallback`, on the calling thread.
    void write(const FirmwareImage& image, std::uint32_t address,
               std::shared_ptr<SambaClient> client, bool verify, const FlashProgress& progress = {},
               const FlashPageProgress& pageProgress = {},
               const TransferPace::FallbackHandler& onPaceFallback = {}) const;
    void verify(const FirmwareImage& image, std::uint32_t address,
                std::shared_ptr<SambaClient> client, const FlashProgress& progress = {}) const;
    Bytes readApplication(std::shared_ptr<SambaClient> client,
                          const FlashProgress& progress = {}) const;
    /// Reads the application and saves it to `url` (atomically); the file error, if any, comes
    /// after the whole image was read.
    Bytes read(const std::filesystem::path& url, std::shared_ptr<SambaClient> client,
               const FlashProgress& progress = {}) const;

private:
    ConnectedTarget connectSupported(double timeout) const;
    ConnectedTarget connectTo(const SerialPort& port, double timeout, bool rememberSilence) const;
};

} // namespace pelwick
