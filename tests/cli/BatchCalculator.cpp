#include "BatchCalculator.h"

#include "flash/FlashLayout.h"
#include "support/TempDir.h"

#include <mutex>

namespace pelwick::testing {

// Stands between the server and the chip: follows the commands the client sends (skipping the
// payloads of send commands, which may hold any byte) and notes what it needs to.
class BatchCalculator::Spy : public ByteTransport {
public:
    explicit Spy(std::shared_ptr<ByteTransport> chip) : chip_(std::move(chip)) {}

    void write(ByteView data) override {
        {
            const std::lock_guard lock(mutex_);
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

    std::mutex mutex_;
    PseudoTerminalServer* server = nullptr;
    int pullCableAt = 0;
    int connections = 0;
    std::optional<Clock::time_point> first;
    std::optional<Clock::time_point> last;

private:
    // True when this command is the one at which the cable is pulled.
    bool noteCommand() {
        const auto now = Clock::now();
        first = first.value_or(now);
        last = now;
        switch (command_[0]) {
        case 'V':
            ++connections;
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
    : chip_(std::make_shared<SimulatedCalculatorTransport>(operationDelay, false)),
      spy_(std::make_shared<Spy>(chip_)), link_(deviceFolder / name),
      originalApplication_(patternImage(seed)), originalBootloader_(patternImage(seed + 1000)) {
    originalBootloader_.resize(FlashLayout::applicationStart);
    for (std::uint32_t i = 0; i < originalBootloader_.size(); ++i) {
        chip_->memory()[i] = originalBootloader_[i];
    }
    for (std::uint32_t i = 0; i < originalApplication_.size(); ++i) {
        chip_->memory()[FlashLayout::applicationStart + i] = originalApplication_[i];
    }
    server_ = std::make_unique<PseudoTerminalServer>(spy_);
    spy_->server = server_.get();
    std::filesystem::create_symlink(server_->slavePath(), link_);
    server_->start();
}

BatchCalculator::~BatchCalculator() {
    stop();
}

void BatchCalculator::pullCableAtAppletRun(int appletRun) {
    const std::lock_guard lock(spy_->mutex_);
    spy_->pullCableAt = appletRun;
}

void BatchCalculator::delayAppletRun(int appletRun, double seconds) {
    // The server's next write takes the lock first, so the chip is set before it is served.
    const std::lock_guard lock(spy_->mutex_);
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
            const std::lock_guard lock(spy_->mutex_);
            spy_->server = nullptr;
        }
        server_.reset();
    }
}

Bytes BatchCalculator::range(std::uint32_t start, std::uint32_t end) const {
    Bytes bytes;
    for (std::uint32_t address = start; address < end; ++address) {
        const auto entry = chip_->memory().find(address);
        bytes.push_back(entry == chip_->memory().end() ? 0xFF : entry->second);
    }
    return bytes;
}

Bytes BatchCalculator::application() const {
    return range(FlashLayout::applicationStart, FlashLayout::applicationEnd);
}

Bytes BatchCalculator::bootloader() const {
    return range(0, FlashLayout::applicationStart);
}

int BatchCalculator::connections() const {
    const std::lock_guard lock(spy_->mutex_);
    return spy_->connections;
}

std::optional<BatchCalculator::Clock::time_point> BatchCalculator::firstContact() const {
    const std::lock_guard lock(spy_->mutex_);
    return spy_->first;
}

std::optional<BatchCalculator::Clock::time_point> BatchCalculator::lastContact() const {
    const std::lock_guard lock(spy_->mutex_);
    return spy_->last;
}

} // namespace pelwick::testing
