#pragma once

#include "flasher/Flasher.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace pelwick::testing {

/// A "real cable" for the window's tests and screenshots: a port listing that can be changed
/// (plugging and unplugging) and one simulated calculator behind every port.
class CalculatorBench : public std::enable_shared_from_this<CalculatorBench> {
public:
    class Listing : public SerialPortListing {
    public:
        std::vector<SerialPort> listPorts() const override;
        void set(std::vector<SerialPort> ports);

    private:
        mutable std::mutex mutex_;
        std::vector<SerialPort> ports_{SerialPort{"/dev/cu.usbmodem14101"}};
    };

    explicit CalculatorBench(std::shared_ptr<SimulatedCalculatorTransport> calculator =
                                 std::make_shared<SimulatedCalculatorTransport>(0.0, true))
        : calculator(std::move(calculator)) {}

    /// A real-cable style facade over this bench (no applet settle pause).
    Flasher flasher();
    /// Makes the chip an ATSAM4LC8C (512 KiB), which may not be flashed.
    void makeUnsupported();

    std::shared_ptr<SimulatedCalculatorTransport> calculator;
    std::shared_ptr<Listing> listing = std::make_shared<Listing>();
    /// The next block read finds the first application byte flipped (a verify mismatch).
    std::atomic<bool> tamperNextBlockRead{false};
    /// When not 0, opening a port fails the way the serial link fails with this errno.
    std::atomic<int> refuseOpens{0};
};

} // namespace pelwick::testing
