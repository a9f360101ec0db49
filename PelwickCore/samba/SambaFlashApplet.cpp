#include "samba/SambaFlashApplet.h"

#include "device/FlasherError.h"
#include "samba/SambaAppletImage.h"
#include "util/Format.h"

#include <algorithm>

namespace pelwick {

namespace {

constexpr double kCommandTimeout = 12.0;
constexpr double kResultReadTimeout = 3.0;
constexpr double kPollReadTimeout = 1.0;
// The pace of a run with a settle time: at least this long after "G", and this long between polls.
constexpr double kMinimumSettleSeconds = 0.1;
constexpr double kPollIntervalSeconds = 1.0;

} // namespace

ByteView SambaFlashApplet::image() {
    return sambaAppletImage();
}

SambaFlashApplet::SambaFlashApplet(SambaClient& samba, double goDelay)
    : samba_(samba), goDelay_(goDelay) {
    if (goDelay > 0) {
        samba_.setAfterSendDelay(0.02);
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
    if (goDelay_ > 0) {
        samba_.sleeper()(std::max(goDelay_, kMinimumSettleSeconds));
    }
    const auto deadline = deadlineAfter(timeout);
    const int budget = command == SambaAppletCommand::erasePage ? 25 : 10;
    for (int attempt = 1;; ++attempt) {
        if (secondsUntil(deadline) <= 0) {
            break;
        }
        try {
            if ((readMailbox(0x00, kPollReadTimeout) ^ raw) == 0xFFFFFFFF) {
                const std::uint32_t status = readMailbox(0x04, kResultReadTimeout);
                if (status == 0) {
                    return;
                }
                throw FlasherError::appletFailed(status);
            }
        } catch (const FlasherError& error) {
            // While the applet works the monitor may not answer; that is "not finished yet". Its
            // answer may still come later: the client drops it or keeps only the newest reply, so
            // the next poll and the status read are never answered with an older word.
            if (error.kind() != FlasherError::Case::sambaTimeout) {
                throw;
            }
        }
        if (goDelay_ > 0 && attempt < budget) {
            samba_.sleeper()(kPollIntervalSeconds);
        }
        if (attempt >= budget) {
            break;
        }
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
