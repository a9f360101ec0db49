#include "BatchCalculator.h"

#include <mutex>

namespace pelwick::testing {

// Stands between the server and the chip: follows the commands the client sends (skipping the
// payloads of send commands, which may hold any byte) and notes what it needs to.
class BatchCalculator::Spy : public ByteTransport {
public:
    explicit Spy(std::shared_ptr<ByteTransport> chip) : chip_(std::move(chip)) {}

    void write(ByteView data) override {
        {
            const std::lock_guard lock(mutex);
            bool pullCable = false;
            for (const std::uint8_t byte : data) {
                if (payloadLeft_ > 0) {
                    --payloadLeft_;
                    continue;
                }
                command_ += static_cast<char>(byte);
                if (byte == '#') {
                    pullCable |= noteCommand();
                    command_.clear();
                }
            }
            if (pullCable && server) {
                // The server serves this very call: the command never reaches the chip.
                server->hangUp();
                return;
            }
        }
        chip_->write(data);
    }
    Bytes read(std::size_t max, double timeout) override { return chip_->read(max, timeout); }
    void close() noexcept override { chip_->close(); }

    std::mutex mutex;
    PseudoTerminalServer* server = nullptr;
    int pullCableAt = 0;
    Contacts contacts;

private:
    // True when this command is the one at which the cable is pulled.
    bool noteCommand() {
        const auto now = Clock::now();
        contacts.first = contacts.first.value_or(now);
        contacts.last = now;
        switch (command_[0]) {
        case 'V':
            ++contacts.connections;
            return false;
        case 'S':
            // "Saddress,length#": the length is hexadecimal.
            payloadLeft_ = std::stoul(command_.substr(command_.find(',') + 1), nullptr, 16);
            return false;
        case 'G':
            return ++appletRuns_ == pullCableAt;
        default:
            return false;
        }
    }

    std::shared_ptr<ByteTransport> chip_;
    std::string command_;
    std::size_t payloadLeft_ = 0;
    int appletRuns_ = 0;
};

BatchCalculator::BatchCalculator(const std::filesystem::path& deviceFolder, const std::string& name,
                                 unsigned seed, double operationDelay)
    : chip_(std::make_shared<ObservedCalculator>(patternImage(seed))),
      spy_(std::make_shared<Spy>(chip_)), link_(deviceFolder / name),
      originalApplication_(chip_->application()) {
    chip_->setOperationDelay(operationDelay);
    server_ = std::make_unique<PseudoTerminalServer>(spy_);
    spy_->server = server_.get();
    plugIn();
    server_->start();
}

BatchCalculator::~BatchCalculator() {
    stop();
}

void BatchCalculator::pullCableAtAppletRun(int appletRun) {
    const std::lock_guard lock(spy_->mutex);
    spy_->pullCableAt = appletRun;
}

void BatchCalculator::delayAppletRun(int appletRun, double seconds) {
    // The server's next write takes the lock first, so the chip is set before it is served.
    const std::lock_guard lock(spy_->mutex);
    chip_->delayAppletRun(appletRun, seconds);
}

void BatchCalculator::unplug() {
    std::filesystem::remove(link_);
}

void BatchCalculator::plugIn() {
    std::filesystem::create_symlink(server_->slavePath(), link_);
}

void BatchCalculator::stop() {
    if (server_) {
        {
            const std::lock_guard lock(spy_->mutex);
            spy_->server = nullptr;
        }
        server_.reset();
    }
}

BatchCalculator::Contacts BatchCalculator::contacts() const {
    const std::lock_guard lock(spy_->mutex);
    return spy_->contacts;
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
