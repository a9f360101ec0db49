#include "support/ObservedCalculator.h"

#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "samba/SambaFlashApplet.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pelwick::testing {

namespace {

constexpr std::uint32_t kMailbox = SambaFlashApplet::mailboxAddress;
// The lock regions 0 and 1 hold the bootloader.
constexpr std::uint32_t kFirstApplicationRegion = 2;

} // namespace

ObservedCalculator::ObservedCalculator(const Bytes& application)
    : SimulatedCalculatorTransport(0, application.empty()) {
    // A recognisable bootloader, so that any change to it shows in a comparison.
    for (std::uint32_t a = 0; a < FlashLayout::applicationStart; ++a) {
        memory()[a] = static_cast<std::uint8_t>(a * 7 + 3);
    }
    for (std::uint32_t i = 0; i < application.size(); ++i) {
        memory()[FlashLayout::applicationStart + i] = application[i];
    }
    bootloaderAtStart_ = bootloader();
}

Bytes ObservedCalculator::application() const {
    return bytesAt(FlashLayout::applicationStart, FlashLayout::applicationSize);
}

Bytes ObservedCalculator::bytesAt(std::uint32_t address, std::uint32_t length) const {
    Bytes bytes(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        bytes[i] = loadByte(address + i);
    }
    return bytes;
}

bool ObservedCalculator::bootloaderTouched() const {
    const auto inBootloader = [](std::uint32_t offset) {
        return offset < FlashLayout::applicationStart;
    };
    const auto bootloaderRegion = [](std::uint32_t region) {
        return region < kFirstApplicationRegion;
    };
    return !bootloaderStores.empty() || std::ranges::any_of(writeOffsets, inBootloader) ||
           std::ranges::any_of(unlockRequests, bootloaderRegion) ||
           bootloader() != bootloaderAtStart_;
}

void ObservedCalculator::expectBootloaderUntouched() const {
    EXPECT_FALSE(bootloaderTouched()) << "the bootloader was written, unlocked or changed";
}

void ObservedCalculator::identifyAs(std::uint32_t cidr, std::uint32_t exid) {
    storeWord(FlashCalw::chipidCIDR, cidr);
    storeWord(FlashCalw::chipidEXID, exid);
}

void ObservedCalculator::storeByte(std::uint32_t address, std::uint8_t value) {
    if (address < FlashLayout::applicationStart) {
        bootloaderStores.push_back(address);
    }
    SimulatedCalculatorTransport::storeByte(address, value);
}

void ObservedCalculator::jump(std::uint32_t address) {
    if (address != SambaFlashApplet::goAddress) {
        SimulatedCalculatorTransport::jump(address);
        return;
    }
    const std::uint32_t command = loadWord(kMailbox);
    if (command == 0x02) {
        const std::uint32_t offset = loadWord(kMailbox + 0x10);
        writeOffsets.push_back(offset);
        if (offset == unprogrammedOffset) {
            // The applet says the page is written, but flash keeps its old content.
            skippedPage = true;
            storeWord(kMailbox + 0x08, loadWord(kMailbox + 0x0C));
            storeWord(kMailbox + 0x04, 0);
            storeWord(kMailbox, ~command);
            return;
        }
    }
    if (command == 0x05) {
        const std::uint32_t region = loadWord(kMailbox + 0x08);
        unlockRequests.push_back(region);
        if (region == failingUnlockRegion) {
            storeWord(kMailbox + 0x04, 5);
            storeWord(kMailbox, ~command);
            return;
        }
    }
    SimulatedCalculatorTransport::jump(address);
    if (command == 0x00) {
        for (const auto& [offset, value] : initOverrides) {
            storeWord(kMailbox + offset, value);
        }
    }
}

} // namespace pelwick::testing
