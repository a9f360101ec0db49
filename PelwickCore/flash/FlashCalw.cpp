#include "flash/FlashCalw.h"

#include "device/FlasherError.h"
#include "util/Format.h"

#include <algorithm>

namespace pelwick {

namespace {

constexpr double kIdentifyTimeout = 3.0;
constexpr double kReadBlockTimeout = 30.0;
// After the last block of a read, how long the line must stay quiet: a stray byte ahead of a
// block leaves the block's end unread, and the region would be saved shifted.
constexpr double kReadEndQuietSeconds = 0.02;

// Runs one step of a write or verify, replacing a time-out by a sentence that says what the
// program was doing.
template <typename Step> auto relabellingTimeout(const std::string& activity, Step&& step) {
    try {
        return step();
    } catch (const FlasherError& error) {
        if (error.kind() == FlasherError::Case::sambaTimeout) {
            throw FlasherError::timedOutWhile(activity);
        }
        throw;
    }
}

} // namespace

FlashCalw::FlashCalw(SambaClient& samba, double commandSettleSeconds)
    : samba_(samba), commandSettleSeconds_(commandSettleSeconds) {}

void FlashCalw::setFastTransfer(bool fast, TransferPace::FallbackHandler onFallback) {
    fastTransfer_ = fast;
    onPaceFallback_ = std::move(onFallback);
}

DeviceIdentity FlashCalw::identify() {
    bool readAgain = false;
    return identify(readAgain);
}

DeviceIdentity FlashCalw::identify(bool& readAgain) {
    const auto readRegisters = [this] {
        const std::uint32_t cpu = samba_.readWord(cpuid, kIdentifyTimeout);
        const std::uint32_t cidr = samba_.readWord(chipidCIDR, kIdentifyTimeout);
        const std::uint32_t exid = samba_.readWord(chipidEXID, kIdentifyTimeout);
        return SAM4LChipTable::identify(cidr, exid, cpu);
    };
    DeviceIdentity identity = readRegisters();
    if (!identity.isCortexM4()) {
        // Every chip we know is a Cortex-M4, so another CPUID is more likely a read garbled by
        // stray bytes than another chip: read once more on a quiet line before reporting it.
        samba_.discardUntilQuiet();
        readAgain = true;
        identity = readRegisters();
    }
    return identity;
}

Bytes FlashCalw::readRegion(const Progress& progress) {
    Bytes result;
    result.reserve(FlashLayout::applicationSize);
    for (std::uint32_t offset = 0; offset < FlashLayout::applicationSize;
         offset += SambaClient::blockSize) {
        const auto length =
            std::min<std::uint32_t>(SambaClient::blockSize, FlashLayout::applicationSize - offset);
        const Bytes block =
            samba_.read(FlashLayout::applicationStart + offset, length, kReadBlockTimeout);
        result.insert(result.end(), block.begin(), block.end());
        if (offset + length == FlashLayout::applicationSize) {
            samba_.expectQuiet(kReadEndQuietSeconds);
        }
        if (progress) {
            progress(static_cast<double>(offset + length) / FlashLayout::applicationSize);
        }
    }
    return result;
}

Bytes FlashCalw::readApplication(const Progress& progress) {
    return readRegion(progress);
}

void FlashCalw::writeApplication(ByteView data, const Progress& progress,
                                 const Progress& verifyProgress, const PageProgress& pageProgress,
                                 bool verify) {
    FirmwareImage::validate(data, true);
    TransferPace pace(commandSettleSeconds_,
                      fastTransfer_ ? TransferPace::Mode::fast : TransferPace::Mode::standard,
                      onPaceFallback_);
    bool identityReadAgain = false;
    const DeviceIdentity identity = relabellingTimeout("identifying the calculator",
                                                       [&] { return identify(identityReadAgain); });
    if (!identity.isSupported15C()) {
        throw FlasherError::unsupportedDevice(identity.name, identity.cidr, identity.exid);
    }
    if (identityReadAgain) {
        // A garbled identification: the line does not keep up.
        pace.fallBack();
    }

    SambaFlashApplet applet(samba_, std::move(pace));
    relabellingTimeout("uploading the flash applet", [&] { applet.upload(); });
    const SambaAppletInfo info =
        relabellingTimeout("starting the flash applet", [&] { return applet.initialize(0, 0, 0); });
    requireBufferInRam(info);
    relabellingTimeout("unlocking flash", [&] { unlockApplicationRegions(applet, info); });

    const std::size_t page = info.pageSize;
    // A page larger than the applet's buffer could never be sent: refuse it with the applet's own
    // size message before building it, so that a garbled INIT reply cannot make us allocate
    // gigabytes for one page.
    if (info.pageSize > info.bufferSize) {
        throw FlasherError::sambaProtocol("applet WRITE size " + std::to_string(info.pageSize) +
                                          " exceeds buffer " + std::to_string(info.bufferSize));
    }
    const std::size_t count = data.size();
    const int pages = static_cast<int>((count + page - 1) / page);
    Bytes pageBytes;
    for (int i = 0; i < pages; ++i) {
        const std::size_t offset = static_cast<std::size_t>(i) * page;
        const std::size_t end = std::min(offset + page, count);
        pageBytes.assign(data.begin() + static_cast<std::ptrdiff_t>(offset),
                         data.begin() + static_cast<std::ptrdiff_t>(end));
        pageBytes.resize(page, 0xFF);
        const auto address = static_cast<std::uint32_t>(FlashLayout::applicationStart + offset);
        relabellingTimeout("writing page " + std::to_string(i + 1) + " of " + std::to_string(pages),
                           [&] { (void)applet.write(address, pageBytes); });
        if (pageProgress) {
            pageProgress(FlashPageWrite{address, i, pages, pageBytes});
        }
        if (progress) {
            progress(static_cast<double>(i + 1) / pages);
        }
    }
    if (progress) {
        progress(1.0);
    }
    if (verify) {
        verifyApplication(data, verifyProgress);
    }
}

void FlashCalw::requireBufferInRam(const SambaAppletInfo& info) {
    // The page data is sent to the buffer the applet names; a garbled INIT reply must not make us
    // send it into flash or over the applet itself.
    const std::uint64_t start = info.bufferAddress;
    const std::uint64_t end = start + info.bufferSize;
    const std::uint64_t imageStart = SambaFlashApplet::loadAddress;
    const std::uint64_t imageEnd = imageStart + SambaFlashApplet::image().size();
    const bool inRam = start >= ramStart && end <= ramStart + ramSize;
    const bool overImage = start < imageEnd && end > imageStart;
    if (!inRam || overImage) {
        throw FlasherError::sambaProtocol(
            formatString("applet INIT returned a buffer outside free RAM (0x%08X, %u bytes)",
                         info.bufferAddress, info.bufferSize));
    }
}

void FlashCalw::unlockApplicationRegions(SambaFlashApplet& applet, const SambaAppletInfo& info) {
    const std::uint32_t lockBits = info.lockBitCount != 0 ? info.lockBitCount : 16;
    const std::uint32_t totalPages = info.pageCount != 0 ? info.pageCount : 256;
    const std::uint32_t pagesPerRegion = lockBits <= totalPages ? totalPages / lockBits : 1;
    const std::uint32_t startPage = info.appStartPage != 0 ? info.appStartPage : 32;
    // The first region is the one holding the start page, but however the applet describes its
    // geometry, the regions that hold the bootloader are never unlocked: the applet counts the
    // chip's 16 regions of 8 KiB, of which 0 and 1 are the bootloader's.
    constexpr std::uint32_t chipRegionBytes = FlashLayout::applicationEnd / lockRegions;
    constexpr std::uint32_t firstChipApplicationRegion =
        FlashLayout::applicationStart / chipRegionBytes;
    const std::uint32_t firstRegion =
        std::max(startPage / pagesPerRegion, firstChipApplicationRegion);
    // A first region at or beyond the last lock bit leaves nothing to unlock.
    for (std::uint32_t region = firstRegion; region < lockBits; ++region) {
        try {
            applet.unlockRegion(region);
        } catch (const FlasherError& error) {
            // A region the applet could not unlock is reported by the write that needs it.
            if (error.kind() != FlasherError::Case::appletFailed) {
                throw;
            }
        }
    }
}

void FlashCalw::verifyApplication(ByteView data, const Progress& progress) {
    FirmwareImage::validate(data, true);
    if (progress) {
        progress(0.0);
    }
    const Bytes readBack =
        relabellingTimeout("verifying firmware", [&] { return readRegion(progress); });
    if (!std::equal(readBack.begin(), readBack.end(), data.begin(), data.end())) {
        throw FlasherError::verifyMismatch();
    }
    if (progress) {
        progress(1.0);
    }
}

} // namespace pelwick
