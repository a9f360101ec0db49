#pragma once

#include "flash/FlashLayout.h"
#include "samba/SambaFlashApplet.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

namespace pelwick::testing {

/// The simulated calculator (no delay) with a bootloader of its own and eyes on what the program
/// does to it: every byte stored below 0x4000, every flash offset the applet is asked to write and
/// every region it is asked to unlock. It can make one unlock fail and change what INIT reports.
class ObservedCalculator : public SimulatedCalculatorTransport {
public:
    static constexpr std::uint32_t mailbox = SambaFlashApplet::mailboxAddress;

    ObservedCalculator() : SimulatedCalculatorTransport(0, true) {
        // A recognisable bootloader, so that any change to it shows in a comparison.
        for (std::uint32_t a = 0; a < FlashLayout::applicationStart; ++a) {
            memory()[a] = static_cast<std::uint8_t>(a * 7 + 3);
        }
        bootloaderAtStart_ = bootloader();
    }

    /// Mailbox words (offsets +0x08 … +0x20) that INIT reports instead of the model's.
    std::map<std::uint32_t, std::uint32_t> initOverrides;
    /// The region whose UNLOCK ends with status 5.
    std::optional<std::uint32_t> failingUnlockRegion;

    std::vector<std::uint32_t> bootloaderStores;
    std::vector<std::uint32_t> writeOffsets;
    std::vector<std::uint32_t> unlockRequests;

    Bytes bootloader() const { return bytesAt(0, FlashLayout::applicationStart); }
    Bytes application() const {
        return bytesAt(FlashLayout::applicationStart, FlashLayout::applicationSize);
    }
    Bytes bytesAt(std::uint32_t address, std::uint32_t length) const {
        Bytes bytes(length);
        for (std::uint32_t i = 0; i < length; ++i) {
            bytes[i] = loadByte(address + i);
        }
        return bytes;
    }

    /// Nothing was stored below 0x4000, no applet write aimed there, and the bytes are unchanged.
    void expectBootloaderUntouched() const {
        EXPECT_TRUE(bootloaderStores.empty())
            << bootloaderStores.size() << " stores, first at " << bootloaderStores.front();
        for (const std::uint32_t offset : writeOffsets) {
            EXPECT_GE(offset, FlashLayout::applicationStart);
        }
        EXPECT_TRUE(bootloader() == bootloaderAtStart_);
    }

    /// Makes the chip identify as another part.
    void identifyAs(std::uint32_t cidr, std::uint32_t exid) {
        storeWord(0x400E0740, cidr);
        storeWord(0x400E0744, exid);
    }

protected:
    void storeByte(std::uint32_t address, std::uint8_t value) override {
        if (address < FlashLayout::applicationStart) {
            bootloaderStores.push_back(address);
        }
        SimulatedCalculatorTransport::storeByte(address, value);
    }

    void jump(std::uint32_t address) override {
        if (address != SambaFlashApplet::goAddress) {
            SimulatedCalculatorTransport::jump(address);
            return;
        }
        const std::uint32_t command = loadWord(mailbox);
        if (command == 0x02) {
            writeOffsets.push_back(loadWord(mailbox + 0x10));
        }
        if (command == 0x05) {
            const std::uint32_t region = loadWord(mailbox + 0x08);
            unlockRequests.push_back(region);
            if (region == failingUnlockRegion) {
                storeWord(mailbox + 0x04, 5);
                storeWord(mailbox, ~command);
                return;
            }
        }
        SimulatedCalculatorTransport::jump(address);
        if (command == 0x00) {
            for (const auto& [offset, value] : initOverrides) {
                storeWord(mailbox + offset, value);
            }
        }
    }

private:
    Bytes bootloaderAtStart_;
};

} // namespace pelwick::testing
