#pragma once

#include "sim/SimulatedCalculatorTransport.h"
#include "util/Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelwick::testing {

/// The simulated calculator (no delay) as the fault campaign needs it: a recognisable bootloader,
/// a given application already installed, a record of everything aimed at the bootloader, and one
/// flash page that can be made to stay as it was while the applet reports it written.
class CampaignCalculator : public SimulatedCalculatorTransport {
public:
    /// The 16 lock regions of the 128 KiB flash are 8 KiB each; regions 0 and 1 hold the
    /// bootloader.
    static constexpr std::uint32_t firstApplicationRegion = 2;

    explicit CampaignCalculator(const Bytes& application);

    /// The page (1-based, counted from 0x4000) whose applet WRITE is acknowledged with success but
    /// leaves flash unchanged; 0 for none.
    int unprogrammedPage = 0;
    /// Whether that page's WRITE came and was skipped.
    bool skippedPage = false;

    /// Bytes stored below 0x4000 by any command or applet run.
    int bootloaderStores = 0;
    /// Applet WRITE commands aimed below 0x4000.
    int bootloaderAppletWrites = 0;
    /// Applet UNLOCK commands for the bootloader's lock regions.
    int bootloaderUnlocks = 0;

    Bytes bootloader() const;
    Bytes application() const;
    /// The bootloader bytes differ from those the calculator was built with.
    bool bootloaderChanged() const { return bootloader() != bootloaderAtStart_; }

protected:
    void storeByte(std::uint32_t address, std::uint8_t value) override;
    void jump(std::uint32_t address) override;

private:
    Bytes bootloaderAtStart_;
};

/// Monitor commands in `commands` that write into the bootloader: "W" and "S" addressed below
/// 0x4000, and flash controller erase or write-page commands for a bootloader page.
int bootloaderWriteCommands(const std::vector<std::string>& commands);

} // namespace pelwick::testing
