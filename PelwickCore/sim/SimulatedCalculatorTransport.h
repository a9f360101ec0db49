#pragma once

#include "device/SerialPort.h"
#include "sim/SimulatedMonitor.h"

#include <unordered_map>

namespace pelwick {

/// A whole calculator in-process, for DEMO mode: the SAM-BA monitor, a model of the flash applet
/// (a jump to the applet performs the mailbox command directly on memory instead of running the
/// uploaded code), a model of the flash controller, and a sparse memory preloaded with a
/// supported chip's identification and, optionally, a small application.
class SimulatedCalculatorTransport : public SimulatedMonitor {
public:
    /// The one port the simulated calculator is listed under.
    static const SerialPort demoPort;

    SimulatedCalculatorTransport(double operationDelay, bool preloadApplication,
                                 SleepFunction sleep = sleepFor);

    /// The whole simulated address space; an address without an entry reads as 0xFF.
    std::unordered_map<std::uint32_t, std::uint8_t>& memory() { return memory_; }
    const std::unordered_map<std::uint32_t, std::uint8_t>& memory() const { return memory_; }

protected:
    std::uint8_t loadByte(std::uint32_t address) const override;
    void storeByte(std::uint32_t address, std::uint8_t value) override;
    void monitorStoreWord(std::uint32_t address, std::uint32_t value) override;
    void jump(std::uint32_t address) override;

private:
    void runOfficialApplet(std::uint32_t goAddress);
    void applyFlashCommand(std::uint32_t command);

    std::unordered_map<std::uint32_t, std::uint8_t> memory_;
};

/// Lists the simulated calculator's one port.
class SimulatedPortListing : public SerialPortListing {
public:
    std::vector<SerialPort> listPorts() const override {
        return {SimulatedCalculatorTransport::demoPort};
    }
};

} // namespace pelwick
