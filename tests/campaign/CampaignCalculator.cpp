#include "campaign/CampaignCalculator.h"

#include "flash/FlashCalw.h"
#include "flash/FlashLayout.h"
#include "samba/SambaFlashApplet.h"

#include <optional>

namespace pelwick::testing {

namespace {

constexpr std::uint32_t kMailbox = SambaFlashApplet::mailboxAddress;
constexpr std::uint32_t kAppletWrite = 0x02;
constexpr std::uint32_t kAppletUnlock = 0x05;
constexpr std::uint32_t kPageSize = 512;

// The two numbers of "W<address>,<value>#" or "S<address>,<length>#".
std::optional<std::pair<std::uint32_t, std::uint32_t>> numbersOf(const std::string& command) {
    const auto comma = command.find(',');
    if (command.size() < 4 || comma == std::string::npos) {
        return std::nullopt;
    }
    try {
        return std::pair{
            static_cast<std::uint32_t>(std::stoul(command.substr(1), nullptr, 16)),
            static_cast<std::uint32_t>(std::stoul(command.substr(comma + 1), nullptr, 16))};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

CampaignCalculator::CampaignCalculator(const Bytes& application)
    : SimulatedCalculatorTransport(0, false) {
    auto& bytes = memory();
    bytes.reserve(FlashLayout::applicationEnd + 64);
    for (std::uint32_t a = 0; a < FlashLayout::applicationStart; ++a) {
        bytes[a] = static_cast<std::uint8_t>(a * 7 + 3);
    }
    for (std::uint32_t i = 0; i < application.size(); ++i) {
        bytes[FlashLayout::applicationStart + i] = application[i];
    }
    bootloaderAtStart_ = bootloader();
}

Bytes CampaignCalculator::bootloader() const {
    Bytes bytes(FlashLayout::applicationStart);
    for (std::uint32_t a = 0; a < bytes.size(); ++a) {
        bytes[a] = loadByte(a);
    }
    return bytes;
}

Bytes CampaignCalculator::application() const {
    Bytes bytes(FlashLayout::applicationSize);
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = loadByte(FlashLayout::applicationStart + i);
    }
    return bytes;
}

void CampaignCalculator::storeByte(std::uint32_t address, std::uint8_t value) {
    if (address < FlashLayout::applicationStart) {
        ++bootloaderStores;
    }
    SimulatedCalculatorTransport::storeByte(address, value);
}

void CampaignCalculator::jump(std::uint32_t address) {
    if (address != SambaFlashApplet::goAddress) {
        SimulatedCalculatorTransport::jump(address);
        return;
    }
    const std::uint32_t command = loadWord(kMailbox);
    if (command == kAppletUnlock && loadWord(kMailbox + 0x08) < firstApplicationRegion) {
        ++bootloaderUnlocks;
    }
    if (command == kAppletWrite) {
        const std::uint32_t offset = loadWord(kMailbox + 0x10);
        if (offset < FlashLayout::applicationStart) {
            ++bootloaderAppletWrites;
        }
        const auto skipped = FlashLayout::applicationStart +
                             static_cast<std::uint32_t>(unprogrammedPage - 1) * kPageSize;
        if (unprogrammedPage > 0 && offset == skipped) {
            // The applet says the page is written, but flash keeps its old content.
            skippedPage = true;
            storeWord(kMailbox + 0x08, loadWord(kMailbox + 0x0C));
            storeWord(kMailbox + 0x04, 0);
            storeWord(kMailbox, ~command);
            return;
        }
    }
    SimulatedCalculatorTransport::jump(address);
}

int bootloaderWriteCommands(const std::vector<std::string>& commands) {
    int count = 0;
    for (const std::string& command : commands) {
        if (command.empty() || (command[0] != 'W' && command[0] != 'S')) {
            continue;
        }
        const auto numbers = numbersOf(command);
        if (!numbers) {
            continue;
        }
        const auto [address, value] = *numbers;
        if (address < FlashLayout::applicationStart) {
            ++count;
        } else if (command[0] == 'W' && address == FlashCalw::fcmd) {
            const std::uint32_t code = value & 0x3F;
            const std::uint32_t page = (value >> 8) & 0xFFFF;
            if ((code == FlashCalw::cmdEP || code == FlashCalw::cmdWP) &&
                page < FlashLayout::applicationStart / kPageSize) {
                ++count;
            }
        }
    }
    return count;
}

} // namespace pelwick::testing
