#include "sim/SimulatedCalculatorTransport.h"

#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "samba/SambaFlashApplet.h"

namespace pelwick {

namespace {

constexpr std::uint32_t kMailbox = SambaFlashApplet::mailboxAddress;
constexpr std::uint32_t kPageSize = 512;

} // namespace

const SerialPort SimulatedCalculatorTransport::demoPort{"/dev/cu.usbmodemDEMO"};

SimulatedCalculatorTransport::SimulatedCalculatorTransport(double operationDelay,
                                                           bool preloadApplication,
                                                           SleepFunction sleep)
    : SimulatedMonitor(operationDelay, std::move(sleep)) {
    // An ATSAM4LC2C with a Cortex-M4, its flash controller ready.
    storeWord(FlashCalw::chipidCIDR, 0xAB0A07E0);
    storeWord(FlashCalw::chipidEXID, 0x0400000F);
    storeWord(FlashCalw::cpuid, 0x410FC241);
    storeWord(FlashCalw::fsr, FlashCalw::fsrFRDY);
    if (preloadApplication) {
        // A tiny application whose test-menu checksum is 9090h.
        memory_.reserve(FlashLayout::applicationSize + 64);
        for (std::uint32_t a = FlashLayout::applicationStart; a < FlashLayout::applicationEnd;
             ++a) {
            memory_[a] = 0x00;
        }
        memory_[FlashLayout::applicationStart] = 0x90;
        memory_[FlashLayout::applicationStart + 1] = 0x90;
    }
}

std::uint8_t SimulatedCalculatorTransport::loadByte(std::uint32_t address) const {
    const auto entry = memory_.find(address);
    return entry == memory_.end() ? 0xFF : entry->second;
}

void SimulatedCalculatorTransport::storeByte(std::uint32_t address, std::uint8_t value) {
    memory_[address] = value;
}

void SimulatedCalculatorTransport::monitorStoreWord(std::uint32_t address, std::uint32_t value) {
    storeWord(address, value);
    if (address == FlashCalw::fcmd) {
        applyFlashCommand(value);
    }
}

void SimulatedCalculatorTransport::jump(std::uint32_t address) {
    runOfficialApplet(address);
}

void SimulatedCalculatorTransport::delayAppletRun(int run, double seconds) {
    slowRun_ = appletRuns_ + run;
    slowRunSeconds_ = seconds;
}

void SimulatedCalculatorTransport::runOfficialApplet(std::uint32_t goAddress) {
    if (goAddress != SambaFlashApplet::goAddress) {
        return;
    }
    if (++appletRuns_ == slowRun_) {
        pause(slowRunSeconds_);
    }
    const std::uint32_t command = loadWord(kMailbox);
    std::uint32_t status = 0;
    switch (command) {
    case 0x00: // initialize
        storeWord(kMailbox + 0x08, 0x00020000);
        storeWord(kMailbox + 0x0C, 0x20002C00);
        storeWord(kMailbox + 0x10, 0x00000200);
        storeWord(kMailbox + 0x14, 0x00102000);
        storeWord(kMailbox + 0x18, 0x00000200);
        storeWord(kMailbox + 0x1C, 0x00000100);
        storeWord(kMailbox + 0x20, 0x00000020);
        break;
    case 0x02: { // write
        const std::uint32_t buffer = loadWord(kMailbox + 0x08);
        const std::uint32_t count = loadWord(kMailbox + 0x0C);
        const std::uint32_t offset = loadWord(kMailbox + 0x10);
        // A count beyond any buffer is refused like the real applet refuses a range outside
        // flash, so that a hostile mailbox cannot make the model fill memory without bound.
        if (offset >= FlashLayout::applicationStart && count <= maximumTransferLength) {
            for (std::uint32_t i = 0; i < count; ++i) {
                storeByte(offset + i, loadByte(buffer + i));
            }
            storeWord(kMailbox + 0x08, count);
            pause(appletPageDelay_ * ((count + kPageSize - 1) / kPageSize));
        } else {
            storeWord(kMailbox + 0x08, 0);
            status = 2;
        }
        break;
    }
    case 0x03: { // read
        const std::uint32_t buffer = loadWord(kMailbox + 0x08);
        const std::uint32_t count = loadWord(kMailbox + 0x0C);
        const std::uint32_t offset = loadWord(kMailbox + 0x10);
        if (count > maximumTransferLength) {
            status = 0x0F;
            break;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            storeByte(buffer + i, loadByte(offset + i));
        }
        storeWord(kMailbox + 0x08, count);
        break;
    }
    case 0x05: // unlock: the model has no lock bits
        break;
    case 0x44: { // erasePage
        const std::uint32_t page = loadWord(kMailbox + 0x08);
        if (page >= FlashLayout::applicationStart / kPageSize) {
            // Pages beyond the 32-bit address space have no bytes to erase.
            const std::uint64_t start = static_cast<std::uint64_t>(page) * kPageSize;
            for (std::uint64_t a = start; a < start + kPageSize && a <= 0xFFFFFFFFull; ++a) {
                storeByte(static_cast<std::uint32_t>(a), 0xFF);
            }
        } else {
            status = 4;
        }
        break;
    }
    default:
        status = 0x0F;
        break;
    }
    storeWord(kMailbox + 0x04, status);
    storeWord(kMailbox, command ^ 0xFFFFFFFF);
}

void SimulatedCalculatorTransport::applyFlashCommand(std::uint32_t command) {
    if ((command & 0x3F) == FlashCalw::cmdEP) {
        const std::uint32_t start = (command * 2) & 0x01FFFE00;
        for (std::uint32_t i = 0; i < kPageSize; ++i) {
            storeByte(start + i, 0xFF);
        }
    }
    storeWord(FlashCalw::fsr, FlashCalw::fsrFRDY);
}

} // namespace pelwick
