#include "samba/SambaFlashApplet.h"

#include "device/FlasherError.h"
#include "samba/SambaAppletImage.h"
#include "util/Format.h"

namespace pelwick {

namespace {

constexpr double kCommandTimeout = 12.0;
constexpr double kResultReadTimeout = 3.0;
constexpr double kPollReadTimeout = 1.0;

} // namespace

ByteView SambaFlashApplet::image() {
    return sambaAppletImage();
}

SambaFlashApplet::SambaFlashApplet(SambaClient& samba, double goDelay)
    : SambaFlashApplet(samba, TransferPace(goDelay)) {}

SambaFlashApplet::SambaFlashApplet(SambaClient& samba, TransferPace pace)
    : samba_(samba), pace_(std::move(pace)) {
    paceClientBlocks();
}

// The client pauses after each block as the pace says; a standard pace without pauses leaves the
// client as it was.
void SambaFlashApplet::paceClientBlocks() {
    if (pace_.mode() == TransferPace::Mode::fast || pace_.pauseAfterBlock() > 0) {
        samba_.setAfterSendDelay(pace_.pauseAfterBlock());
    }
}

void SambaFlashApplet::fallBack() {
    if (pace_.isFast()) {
        pace_.fallBack();
        paceClientBlocks();
    }
}

void SambaFlashApplet::pause(double seconds) {
    if (seconds > 0) {
        samba_.sleeper()(seconds);
    }
}

void SambaFlashApplet::writeMailbox(std::uint32_t offset, std::uint32_t value) {
    samba_.writeWord(mailboxAddress + offset, value);
}

std::uint32_t SambaFlashApplet::readMailbox(std::uint32_t offset, double timeout) {
    return samba_.readWord(mailboxAddress + offset, timeout);
}

void SambaFlashApplet::upload() {
    samba_.discardAvailable(0.05);
    samba_.write(loadAddress, image());
}

void SambaFlashApplet::run(SambaAppletCommand command, double timeout) {
    const auto raw = static_cast<std::uint32_t>(command);
    samba_.go(goAddress);
    pause(pace_.settleAfterStart());
    const auto deadline = deadlineAfter(timeout);
    const int budget = command == SambaAppletCommand::erasePage ? 25 : 10;
    for (int attempt = 1;; ++attempt) {
        if (secondsUntil(deadline) <= 0) {
            break;
        }
        try {
            const std::uint32_t word = readMailbox(0x00, kPollReadTimeout);
            if ((word ^ raw) == 0xFFFFFFFF) {
                const std::uint32_t status = readMailbox(0x04, kResultReadTimeout);
                if (status == 0) {
                    return;
                }
                throw FlasherError::appletFailed(status);
            }
            // Neither the command nor its completion: a garbled reply.
            if (word != raw) {
                fallBack();
            }
        } catch (const FlasherError& error) {
            // While the applet works the monitor may not answer; that is "not finished yet". Its
            // answer may still come later: the client drops it or keeps only the newest reply, so
            // the next poll and the status read are never answered with an older word.
            if (error.kind() != FlasherError::Case::sambaTimeout) {
                throw;
            }
            fallBack();
        }
        if (attempt >= budget) {
            if (!pace_.isFast()) {
                break;
            }
            // Polls back to back can use up the budget long before the applet is done; the
            // standard pace gives it its own polls, a second apart.
            fallBack();
            attempt = 0;
        }
        pause(pace_.pauseBetweenPolls());
    }
    throw FlasherError::timedOutWhile("waiting for the SAM-BA flash applet (command 0x" +
                                      lowerHex(raw) + ")");
}

SambaAppletInfo SambaFlashApplet::initialize(std::uint32_t comType, std::uint32_t traceLevel,
                                             std::uint32_t bank) {
    writeMailbox(0x00, static_cast<std::uint32_t>(SambaAppletCommand::initialize));
    writeMailbox(0x04, 0);
    writeMailbox(0x08, comType);
    writeMailbox(0x0C, traceLevel);
    writeMailbox(0x10, bank);
    run(SambaAppletCommand::initialize, kCommandTimeout);

    const std::uint32_t lockWord = readMailbox(0x14, kResultReadTimeout);
    SambaAppletInfo info;
    info.memorySize = readMailbox(0x08, kResultReadTimeout);
    info.bufferAddress = readMailbox(0x0C, kResultReadTimeout);
    info.bufferSize = readMailbox(0x10, kResultReadTimeout);
    info.pageSize = readMailbox(0x18, kResultReadTimeout);
    info.pageCount = readMailbox(0x1C, kResultReadTimeout);
    info.appStartPage = readMailbox(0x20, kResultReadTimeout);
    info.lockRegionSize = static_cast<std::uint16_t>(lockWord & 0xFFFF);
    info.lockBitCount = static_cast<std::uint16_t>(lockWord >> 16);
    if (info.bufferAddress == 0 || info.bufferSize == 0 || info.pageSize == 0) {
        throw FlasherError::sambaProtocol("applet INIT returned an empty buffer");
    }
    info_ = info;
    return info;
}

SambaAppletInfo SambaFlashApplet::loadAndInitialize(std::uint32_t comType, std::uint32_t traceLevel,
                                                    std::uint32_t bank) {
    upload();
    return initialize(comType, traceLevel, bank);
}

std::uint32_t SambaFlashApplet::write(std::uint32_t flashOffset, ByteView data) {
    if (flashOffset < 0x4000) {
        throw FlasherError::writeWouldTouchBootloader(flashOffset);
    }
    if (!info_) {
        throw FlasherError::sambaProtocol("flash applet is not initialized");
    }
    if (data.empty() || data.size() > info_->bufferSize) {
        throw FlasherError::sambaProtocol("applet WRITE size " + std::to_string(data.size()) +
                                          " exceeds buffer " + std::to_string(info_->bufferSize));
    }
    samba_.write(info_->bufferAddress, data);
    writeMailbox(0x00, static_cast<std::uint32_t>(SambaAppletCommand::write));
    writeMailbox(0x04, 0);
    writeMailbox(0x08, info_->bufferAddress);
    writeMailbox(0x0C, static_cast<std::uint32_t>(data.size()));
    writeMailbox(0x10, flashOffset);
    run(SambaAppletCommand::write, kCommandTimeout);
    return readMailbox(0x08, kResultReadTimeout);
}

void SambaFlashApplet::unlockRegion(std::uint32_t region) {
    writeMailbox(0x00, static_cast<std::uint32_t>(SambaAppletCommand::unlock));
    writeMailbox(0x04, 0);
    writeMailbox(0x08, region);
    run(SambaAppletCommand::unlock, kCommandTimeout);
}

} // namespace pelwick
