#pragma once

#include "samba/SambaClient.h"
#include "samba/TransferPace.h"
#include "util/Bytes.h"

#include <cstdint>
#include <optional>

namespace pelwick {

/// Command codes of the flash applet's mailbox.
enum class SambaAppletCommand : std::uint32_t {
    initialize = 0x00,
    write = 0x02,
    read = 0x03,
    lock = 0x04,
    unlock = 0x05,
    erasePage = 0x44,
};

/// The flash geometry the applet reports after INIT.
struct SambaAppletInfo {
    std::uint32_t memorySize = 0;
    std::uint32_t bufferAddress = 0;
    std::uint32_t bufferSize = 0;
    std::uint32_t pageSize = 0;
    std::uint32_t pageCount = 0;
    std::uint32_t appStartPage = 0;
    std::uint16_t lockRegionSize = 0;
    std::uint16_t lockBitCount = 0;

    bool operator==(const SambaAppletInfo& other) const = default;
};

/// Uploads our flash applet into the chip's RAM and drives it through its mailbox: INIT, WRITE of
/// a RAM buffer into flash, UNLOCK of a lock region. Lives for one programming run.
class SambaFlashApplet {
public:
    static constexpr std::uint32_t loadAddress = 0x20002000;
    static constexpr std::uint32_t goAddress = 0x20002000;
    static constexpr std::uint32_t mailboxAddress = 0x20002040;

    /// The applet code as uploaded (2,652 bytes).
    static ByteView image();

    /// The standard pace of `goDelay`: a positive one also makes the client pause 20 ms after
    /// every block it sends.
    SambaFlashApplet(SambaClient& samba, double goDelay);
    /// Paced by `pace`. A fast one sets the client's pause after blocks itself (none until it
    /// falls back), and falls back at a poll that times out or reads a garbled word.
    SambaFlashApplet(SambaClient& samba, TransferPace pace);

    /// Puts the image into RAM at 0x20002000.
    void upload();
    /// Runs INIT and keeps the reported geometry.
    SambaAppletInfo initialize(std::uint32_t comType, std::uint32_t traceLevel, std::uint32_t bank);
    SambaAppletInfo loadAndInitialize(std::uint32_t comType, std::uint32_t traceLevel,
                                      std::uint32_t bank);
    /// Programs one buffer at a flash offset (never below 0x4000); returns the count reported.
    std::uint32_t write(std::uint32_t flashOffset, ByteView data);
    /// Clears the lock bit of one lock region.
    void unlockRegion(std::uint32_t region);
    /// Starts the applet and polls the mailbox until the command is complemented. A fast pace
    /// that has used up the polls without an answer falls back and polls on at the standard pace.
    void run(SambaAppletCommand command, double timeout);

    const std::optional<SambaAppletInfo>& info() const { return info_; }
    double goDelay() const { return pace_.settleSeconds(); }
    void setGoDelay(double seconds) { pace_.setSettleSeconds(seconds); }
    const TransferPace& pace() const { return pace_; }

private:
    void writeMailbox(std::uint32_t offset, std::uint32_t value);
    std::uint32_t readMailbox(std::uint32_t offset, double timeout);
    void pause(double seconds);
    void paceClientBlocks();
    void fallBack();

    SambaClient& samba_;
    TransferPace pace_;
    std::optional<SambaAppletInfo> info_;
};

} // namespace pelwick
