#pragma once

#include "flash/DeviceIdentity.h"
#include "flash/FlashLayout.h"
#include "samba/SambaClient.h"
#include "samba/SambaFlashApplet.h"

#include <cstdint>
#include <functional>

namespace pelwick {

/// Driver for the application region of the SAM4L flash. The host never touches the flash
/// controller's registers itself: reading and verifying use the monitor's block read, unlocking
/// and programming go through the flash applet running on the chip. Lives for one operation.
class FlashCalw {
public:
    // Identification registers.
    static constexpr std::uint32_t chipidCIDR = 0x400E0740;
    static constexpr std::uint32_t chipidEXID = 0x400E0744;
    static constexpr std::uint32_t cpuid = 0xE000ED00;
    // FLASHCALW controller.
    static constexpr std::uint32_t base = 0x400A0000;
    static constexpr std::uint32_t fcmd = 0x400A0004;
    static constexpr std::uint32_t fsr = 0x400A0008;
    static constexpr std::uint32_t fpr = 0x400A000C;
    static constexpr int pageSize = 512;
    // The chip's RAM, where the applet and its buffer live.
    static constexpr std::uint32_t ramStart = 0x20000000;
    static constexpr std::uint32_t ramSize = 0x8000;
    static constexpr int lockRegions = 16;
    static constexpr std::uint32_t commandKey = 0xA5;
    static constexpr std::uint32_t cmdWP = 1;
    static constexpr std::uint32_t cmdEP = 2;
    static constexpr std::uint32_t cmdCPB = 3;
    static constexpr std::uint32_t cmdLP = 4;
    static constexpr std::uint32_t cmdUP = 5;
    static constexpr std::uint32_t fsrFRDY = 0x1;
    static constexpr std::uint32_t fsrLOCKE = 0x4;
    static constexpr std::uint32_t fsrPROGE = 0x8;

    using Progress = std::function<void(double fraction)>;
    using PageProgress = std::function<void(const FlashPageWrite& page)>;

    FlashCalw(SambaClient& samba, double commandSettleSeconds);

    /// Reads CPUID, CIDR and EXID (3 s each) and looks the chip up. When the CPUID is not a
    /// Cortex-M4 the three are read once more, on a quiet line, before the chip is reported.
    DeviceIdentity identify();

    /// The 0x1C000 bytes of the application region, in 28 blocks of 4096; fails when bytes follow
    /// the last block, which means that the blocks were shifted.
    Bytes readApplication(const Progress& progress = {});

    /// Writes an image of exactly 0x1C000 bytes at 0x4000 page by page through the applet, then
    /// optionally verifies it. Refuses a wrong image or an unsupported chip before the applet is
    /// uploaded.
    void writeApplication(ByteView data, const Progress& progress = {},
                          const Progress& verifyProgress = {},
                          const PageProgress& pageProgress = {}, bool verify = true);

    /// Reads the region back and compares it with `data`; verifyMismatch on any difference.
    void verifyApplication(ByteView data, const Progress& progress = {});

    double commandSettleSeconds() const { return commandSettleSeconds_; }
    void setCommandSettleSeconds(double seconds) { commandSettleSeconds_ = seconds; }

    /// Writes at the fast pace (TransferPace) instead of the standard one of the settle time;
    /// `onFallback` hears it if it falls back. Every write starts fast again.
    void setFastTransfer(bool fast, TransferPace::FallbackHandler onFallback = {});

private:
    // Identifies the chip; `readAgain` tells whether the registers had to be read twice.
    DeviceIdentity identify(bool& readAgain);
    void requireBufferInRam(const SambaAppletInfo& info);
    void unlockApplicationRegions(SambaFlashApplet& applet, const SambaAppletInfo& info);
    Bytes readRegion(const Progress& progress);

    SambaClient& samba_;
    double commandSettleSeconds_;
    bool fastTransfer_ = false;
    TransferPace::FallbackHandler onPaceFallback_;
};

} // namespace pelwick
