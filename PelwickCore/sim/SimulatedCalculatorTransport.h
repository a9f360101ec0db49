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

    /// Time the applet takes for each page a WRITE programs; the monitor answers nothing
    /// meanwhile. None by default: DEMO's time goes into the transfers.
    double appletPageDelay() const { return appletPageDelay_; }
    void setAppletPageDelay(double seconds) { appletPageDelay_ = seconds; }
    /// Makes the `run`-th start of the applet from now (1-based) take `seconds` longer: a
    /// calculator that, over a real line, answers the poll after it late.
    void delayAppletRun(int run, double seconds);

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
    double appletPageDelay_ = 0;
    int appletRuns_ = 0;
    int slowRun_ = 0;
    double slowRunSeconds_ = 0;
};

/// Lists the simulated calculator's one port.
class SimulatedPortListing : public SerialPortListing {
public:
    std::vector<SerialPort> listPorts() const override {
        return {SimulatedCalculatorTransport::demoPort};
    }
};

} // namespace pelwick
