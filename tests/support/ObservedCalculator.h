#pragma once

#include "flash/FlashLayout.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// The simulated calculator (no delay) with a bootloader of its own and eyes on what the program
/// does to it: every byte stored below 0x4000, every flash offset the applet is asked to write and
/// every region it is asked to unlock. It can change what INIT reports, make one unlock fail, and
/// acknowledge one page without programming it.
class ObservedCalculator : public SimulatedCalculatorTransport {
public:
    /// Holds `application` from 0x4000 on; without one, the simulator's small application.
    explicit ObservedCalculator(const Bytes& application = {});

    /// Mailbox words (offsets +0x08 … +0x20) that INIT reports instead of the model's.
    std::map<std::uint32_t, std::uint32_t> initOverrides;
    /// The region whose UNLOCK ends with status 5.
    std::optional<std::uint32_t> failingUnlockRegion;
    /// The flash offset whose WRITE the applet acknowledges while flash keeps its old content.
    std::optional<std::uint32_t> unprogrammedOffset;
    bool skippedPage = false;

    std::vector<std::uint32_t> bootloaderStores;
    std::vector<std::uint32_t> writeOffsets;
    std::vector<std::uint32_t> unlockRequests;

    Bytes bootloader() const { return bytesAt(0, FlashLayout::applicationStart); }
    Bytes application() const;
    Bytes bytesAt(std::uint32_t address, std::uint32_t length) const;

    /// Something stored below 0x4000, an applet write aimed there, a bootloader region unlocked,
    /// or its bytes changed.
    bool bootloaderTouched() const;
    void expectBootloaderUntouched() const;

    /// Makes the chip identify as another part.
    void identifyAs(std::uint32_t cidr, std::uint32_t exid);

protected:
    void storeByte(std::uint32_t address, std::uint8_t value) override;
    void jump(std::uint32_t address) override;

private:
    Bytes bootloaderAtStart_;
};

} // namespace pelwick::testing
