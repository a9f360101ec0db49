#pragma once

#include "sim/PseudoTerminalServer.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace pelwick::testing {

/// A simulated calculator for batch runs: its own bootloader and firmware images, served on a
/// pseudo-terminal that is linked into a device folder (as ttyACM0, ttyACM1, …). It counts the
/// clients that connected, notes when it was first and last spoken to, and can pull its cable in
/// the middle of a flash.
class BatchCalculator {
public:
    using Clock = std::chrono::steady_clock;

    BatchCalculator(const std::filesystem::path& deviceFolder, const std::string& name,
                    unsigned seed, double operationDelay = 0);
    ~BatchCalculator();

    BatchCalculator(const BatchCalculator&) = delete;
    BatchCalculator& operator=(const BatchCalculator&) = delete;

    /// Hangs the terminal up just before the `appletRun`-th applet command reaches the chip.
    void pullCableAtAppletRun(int appletRun);
    /// Makes the `appletRun`-th applet command take `seconds`: the poll after it is answered late.
    void delayAppletRun(int appletRun, double seconds);

    /// Takes the port out of the device folder, and puts it back: a calculator unplugged, and one
    /// plugged in.
    void unplug();
    void plugIn();

    /// Ends the service; the readings below are only taken after this.
    void stop();

    const std::filesystem::path& link() const { return link_; }
    const Bytes& originalApplication() const { return originalApplication_; }
    const Bytes& originalBootloader() const { return originalBootloader_; }
    Bytes application() const;
    Bytes bootloader() const;
    int connections() const;
    std::optional<Clock::time_point> firstContact() const;
    std::optional<Clock::time_point> lastContact() const;

private:
    class Spy;

    Bytes range(std::uint32_t start, std::uint32_t end) const;

    std::shared_ptr<SimulatedCalculatorTransport> chip_;
    std::shared_ptr<Spy> spy_;
    std::unique_ptr<PseudoTerminalServer> server_;
    std::filesystem::path link_;
    Bytes originalApplication_;
    Bytes originalBootloader_;
};

} // namespace pelwick::testing
