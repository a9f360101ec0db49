#include "uisupport/CalculatorBench.h"

#include "device/FlasherError.h"
#include "flash/FlashCalw.h"

namespace pelwick::testing {

std::vector<SerialPort> CalculatorBench::Listing::listPorts() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return ports_;
}

void CalculatorBench::Listing::set(std::vector<SerialPort> ports) {
    std::lock_guard<std::mutex> guard(mutex_);
    ports_ = std::move(ports);
}

namespace {

/// One opened port: passes everything to the bench's calculator.
class BenchConnection : public ByteTransport {
public:
    explicit BenchConnection(std::shared_ptr<CalculatorBench> bench) : bench_(std::move(bench)) {}

    void write(ByteView data) override {
        if (!data.empty() && data[0] == 'R' && bench_->tamperNextBlockRead.exchange(false)) {
            auto& memory = bench_->calculator->memory();
            memory[0x4000] = static_cast<std::uint8_t>(~bench_->calculator->loadWord(0x4000));
        }
        bench_->calculator->write(data);
    }
    Bytes read(std::size_t max, double timeout) override {
        return bench_->calculator->read(max, timeout);
    }
    void close() noexcept override { bench_->calculator->close(); }

private:
    std::shared_ptr<CalculatorBench> bench_;
};

} // namespace

Flasher CalculatorBench::flasher() {
    std::weak_ptr<CalculatorBench> weak = shared_from_this();
    return Flasher{listing, true,
                   [weak](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
                       auto bench = weak.lock();
                       if (const int refused = bench->refuseOpens) {
                           throw FlasherError::serialOpenFailed(port.path, refused);
                       }
                       return std::make_unique<BenchConnection>(bench);
                   },
                   0.0};
}

void CalculatorBench::makeUnsupported() {
    calculator->storeWord(FlashCalw::chipidCIDR, 0xAB0B0AE0);
    calculator->storeWord(FlashCalw::chipidEXID, 0x1400000F);
}

} // namespace pelwick::testing
