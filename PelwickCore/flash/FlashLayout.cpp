#include "flash/FlashLayout.h"

#include "device/FlasherError.h"
#include "util/FileIO.h"
#include "util/Format.h"

#include <algorithm>

namespace pelwick {

bool FlashLayout::isSafeApplicationRange(std::uint32_t address, std::uint32_t length) {
    const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
    return length != 0 && address >= applicationStart && end <= 0xFFFFFFFFull &&
           end <= applicationEnd;
}

void FirmwareImage::validate(ByteView data, bool requireExactSize) {
    const auto count = static_cast<long long>(data.size());
    if (count == 0) {
        throw FlasherError::firmwareEmpty();
    }
    if (count > FlashLayout::expectedFirmwareByteCount) {
        throw FlasherError::firmwareTooLarge(count, FlashLayout::expectedFirmwareByteCount);
    }
    if (requireExactSize && count != FlashLayout::expectedFirmwareByteCount) {
        throw FlasherError::firmwareWrongSize(count, FlashLayout::expectedFirmwareByteCount);
    }
}

FirmwareImage FirmwareImage::load(const std::filesystem::path& url, bool requireExactSize) {
    const std::filesystem::path standardized = url.lexically_normal();
    const auto limit = static_cast<std::size_t>(FlashLayout::expectedFirmwareByteCount);
    Bytes data;
    try {
        // One byte more than an image can hold is enough to know that a file is too large.
        data = readRegularFile(standardized, limit);
    } catch (const FileAccessError& error) {
        const auto reason = error.code();
        if (reason == std::errc::no_such_file_or_directory ||
            reason == std::errc::not_a_directory) {
            throw FlasherError::firmwareNotFound(standardized);
        }
        throw;
    }
    if (data.size() > limit) {
        std::error_code unknown;
        const auto size = std::filesystem::file_size(standardized, unknown);
        throw FlasherError::firmwareTooLarge(
            static_cast<long long>(unknown ? data.size()
                                           : std::max<std::uintmax_t>(size, data.size())),
            FlashLayout::expectedFirmwareByteCount);
    }
    validate(data, requireExactSize);
    return FirmwareImage{standardized, std::move(data)};
}

std::string FlashPageWrite::header() const {
    return formatString("Page %d of %d \u00B7 0x%05X", pageIndex + 1, pageCount, flashOffset);
}

std::vector<std::string> FlashPageWrite::formattedWordLines(int wordsPerLine) const {
    std::vector<std::string> lines;
    std::string line;
    int wordsInLine = 0;
    for (std::size_t i = 0; i + 1 < pageData.size(); i += 2) {
        const unsigned word = pageData[i] | pageData[i + 1] << 8;
        if (wordsInLine > 0) {
            line += ' ';
        }
        line += formatString("%04X", word);
        if (++wordsInLine == wordsPerLine) {
            lines.push_back(std::move(line));
            line.clear();
            wordsInLine = 0;
        }
    }
    if (wordsInLine > 0) {
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace pelwick
