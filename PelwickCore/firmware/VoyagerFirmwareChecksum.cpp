#include "firmware/VoyagerFirmwareChecksum.h"

#include "util/Format.h"

namespace pelwick::VoyagerFirmwareChecksum {

ByteView trimmingTrailingZeros(ByteView data) {
    std::size_t length = data.size();
    while (length > 0 && data[length - 1] == 0x00) {
        --length;
    }
    return data.first(length);
}

std::uint16_t displayedValue(ByteView data) {
    const ByteView trimmed = trimmingTrailingZeros(data);
    if (trimmed.size() < 2) {
        return 0x0000;
    }
    // The last non-zero byte is not part of the sum; only the low byte of the sum is shown.
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : trimmed.first(trimmed.size() - 1)) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    return static_cast<std::uint16_t>(sum * 0x101);
}

std::string formatted(std::uint16_t value) {
    return formatString("%04Xh", value);
}

std::string formattedOf(ByteView data) {
    return formatted(displayedValue(data));
}

std::string testMenuDisplay(std::uint16_t value) {
    return "ChE - - " + formatted(value);
}

std::string testMenuDisplayOf(ByteView data) {
    return testMenuDisplay(displayedValue(data));
}

BackupChecksumAssessment backupAssessment(ByteView data) {
    return BackupChecksumAssessment(displayedValue(data));
}

FirmwareFileAssessment firmwareFileAssessment(ByteView data,
                                              const std::optional<BackupChecksumAssessment>& backup,
                                              bool backupSkipped) {
    return FirmwareFileAssessment(displayedValue(data), backupSkipped ? std::nullopt : backup);
}

} // namespace pelwick::VoyagerFirmwareChecksum
