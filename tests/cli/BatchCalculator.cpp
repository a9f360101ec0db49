#include "BatchCalculator.h"

#include "samba/SambaFlashApplet.h"

#include <mutex>
#include <utility>

namespace pelwick::testing {

// The observed calculator, counting who spoke to it, and able to pull its cable.
class BatchCalculator::Chip : public ObservedCalculator {
public:
    using ObservedCalculator::ObservedCalculator;

    void write(ByteView data) override {
        const std::lock_guard lock(mutex);
        spoken_ = true;
        ObservedCalculator::write(data);
    }
    // A client that spoke has left: a connection.
    void close() noexcept override {
        const std::lock_guard lock(mutex);
        connections += std::exchange(spoken_, false) ? 1 : 0;
        ObservedCalculator::close();
    }

    std::mutex mutex;
    PseudoTerminalServer* server = nullptr;
    int pullCableAt = 0;
    int connections = 0;

protected:
    void jump(std::uint32_t address) override {
        if (address == SambaFlashApplet::goAddress && ++appletRuns_ == pullCableAt && server) {
            // The server serves this very command: it never reaches the applet.
            server->hangUp();
            return;
        }
        ObservedCalculator::jump(address);
    }

private:
    bool spoken_ = false;
    int appletRuns_ = 0;
};

BatchCalculator::BatchCalculator(const std::filesystem::path& deviceFolder, const std::string& name,
                                 unsigned seed, double operationDelay)
    : chip_(std::make_shared<Chip>(patternImage(seed))), link_(deviceFolder / name),
      originalApplication_(chip_->application()) {
    chip_->setOperationDelay(operationDelay);
    server_ = std::make_unique<PseudoTerminalServer>(chip_);
    chip_->server = server_.get();
    plugIn();
    server_->start();
}

BatchCalculator::~BatchCalculator() {
    stop();
}

void BatchCalculator::pullCableAtAppletRun(int appletRun) {
    const std::lock_guard lock(chip_->mutex);
    chip_->pullCableAt = appletRun;
}

void BatchCalculator::delayAppletRun(int appletRun, double seconds) {
    const std::lock_guard lock(chip_->mutex);
    chip_->delayAppletRun(appletRun, seconds);
}

void BatchCalculator::unplug() {
    std::filesystem::remove(link_);
}

void BatchCalculator::plugIn() {
    std::filesystem::create_symlink(server_->slavePath(), link_);
}

void BatchCalculator::stop() {
    {
        const std::lock_guard lock(chip_->mutex);
        chip_->server = nullptr;
    }
    server_.reset();
}

const ObservedCalculator& BatchCalculator::chip() const {
    return *chip_;
}

int BatchCalculator::connections() const {
    const std::lock_guard lock(chip_->mutex);
    return chip_->connections;
}

CalculatorBench::CalculatorBench(int count, double operationDelay) {
    std::filesystem::create_directory(devices);
    for (int i = 0; i < count; ++i) {
        calculators.push_back(std::make_unique<BatchCalculator>(
            devices, "ttyACM" + std::to_string(i), 10 + i, operationDelay));
    }
}

std::vector<std::string> CalculatorBench::run(const std::string& command,
                                              const std::vector<std::string>& options) const {
    std::vector<std::string> args{"--device-dir", devices.string(), "--settle",
                                  settle,         command,          imageFile.string()};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

void CalculatorBench::stopAll() {
    for (auto& calculator : calculators) {
        calculator->stop();
    }
}

} // namespace pelwick::testing
