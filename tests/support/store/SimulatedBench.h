#pragma once

#include "device/ByteTransport.h"
#include "device/FlasherError.h"
#include "device/SerialPort.h"
#include "flash/FlashCalw.h"
#include "flasher/Flasher.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace pelwick::testing {

/// The application region (0x04000–0x1FFFF) of a simulated calculator; unwritten bytes read 0xFF.
inline Bytes applicationOf(const SimulatedCalculatorTransport& calculator) {
    Bytes image(0x1C000, 0xFF);
    for (std::uint32_t offset = 0; offset < image.size(); ++offset) {
        const auto found = calculator.memory().find(0x4000 + offset);
        if (found != calculator.memory().end()) {
            image[offset] = found->second;
        }
    }
    return image;
}

/// A "real cable" for the store, the window and the screenshots: a port listing the test changes
/// (plugging and unplugging) and one simulated calculator behind every port, reached through
/// connections the test can refuse, silence or tamper with.
class SimulatedBench : public std::enable_shared_from_this<SimulatedBench> {
public:
    class Listing : public SerialPortListing {
    public:
        std::vector<SerialPort> listPorts() const override {
            std::lock_guard<std::mutex> guard(mutex_);
            return ports_;
        }
        void set(std::vector<SerialPort> ports) {
            std::lock_guard<std::mutex> guard(mutex_);
            ports_ = std::move(ports);
        }

    private:
        mutable std::mutex mutex_;
        std::vector<SerialPort> ports_{SerialPort{"/dev/cu.usbmodem14101"}};
    };

    explicit SimulatedBench(std::shared_ptr<SimulatedCalculatorTransport> calculator =
                                std::make_shared<SimulatedCalculatorTransport>(0.0, true))
        : calculator(std::move(calculator)) {}

    /// A real-cable style facade over this bench (no applet settle pause).
    Flasher flasher() {
        std::weak_ptr<SimulatedBench> weak = shared_from_this();
        return Flasher{listing, true,
                       [weak](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                           auto bench = weak.lock();
                           if (const int refused = bench->refuseOpens) {
                               throw FlasherError::serialOpenFailed(port.path, refused);
                           }
                           return std::make_unique<Connection>(bench, ++bench->opens);
                       },
                       0.0};
    }

    /// Connections opened so far stop answering (writes are dropped, reads return nothing).
    void silenceOpenConnections() { deadUpTo = opens.load(); }

    /// The application region of the calculator.
    Bytes application() const { return applicationOf(*calculator); }

    /// Makes the chip an ATSAM4LC8C (512 KiB), which may not be flashed.
    void makeUnsupported() {
        calculator->storeWord(FlashCalw::chipidCIDR, 0xAB0B0AE0);
        calculator->storeWord(FlashCalw::chipidEXID, 0x1400000F);
    }

    std::shared_ptr<SimulatedCalculatorTransport> calculator;
    std::shared_ptr<Listing> listing = std::make_shared<Listing>();
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    /// Connections numbered up to this one are silent.
    std::atomic<int> deadUpTo{0};
    /// Every connection, old or new, is silent.
    std::atomic<bool> allSilent{false};
    /// When positive, counts block reads down; the one that reaches zero finds the first
    /// application byte flipped (1: the next block read).
    std::atomic<int> blockReadsUntilTamper{0};
    /// When not 0, opening a port fails the way the serial link fails with this errno.
    std::atomic<int> refuseOpens{0};

private:
    class Connection : public ByteTransport {
    public:
        Connection(std::shared_ptr<SimulatedBench> bench, int number)
            : bench_(std::move(bench)), number_(number) {}

        void write(ByteView data) override {
            if (closed_) {
                throw FlasherError::notConnected();
            }
            if (silent()) {
                return;
            }
            if (isBlockRead(data) && bench_->blockReadsUntilTamper > 0 &&
                bench_->blockReadsUntilTamper.fetch_sub(1) == 1) {
                auto& memory = bench_->calculator->memory();
                memory[0x4000] = static_cast<std::uint8_t>(~memory[0x4000]);
            }
            bench_->calculator->write(data);
        }
        Bytes read(std::size_t max, double timeout) override {
            if (closed_) {
                throw FlasherError::notConnected();
            }
            if (silent()) {
                // What a silent monitor amounts to, without waiting out the time-out.
                throw FlasherError::sambaTimeout();
            }
            return bench_->calculator->read(max, timeout);
        }
        void close() noexcept override {
            if (!closed_.exchange(true)) {
                ++bench_->closes;
                bench_->calculator->close();
            }
        }

    private:
        // "R%08X,%08X#", not a payload block that happens to begin with 'R'.
        static bool isBlockRead(ByteView data) {
            return data.size() == 19 && data[0] == 'R' && data[9] == ',' && data[18] == '#';
        }
        bool silent() const { return bench_->allSilent || number_ <= bench_->deadUpTo; }

        std::shared_ptr<SimulatedBench> bench_;
        int number_;
        std::atomic<bool> closed_{false};
    };
};

} // namespace pelwick::testing
