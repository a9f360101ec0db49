#pragma once

#include "firmware/FirmwareAssessment.h"
#include "util/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace pelwick {

/// The checksum that the calculator's test menu (item 2.C) shows for a firmware image. The value
/// always repeats one byte (0x0000, 0x0101, …, 0xFFFF). Images are the application region as a file
/// or a backup holds it; the length is not checked here.
namespace VoyagerFirmwareChecksum {

/// `data` without its trailing 0x00 bytes, as a view into `data` (nothing is copied). Empty or
/// all-zero data gives an empty view.
ByteView trimmingTrailingZeros(ByteView data);

/// The value the test menu shows for this image: the low byte of the sum of the trimmed image
/// without its last byte, written into both halves. Fewer than two trimmed bytes give 0x0000.
std::uint16_t displayedValue(ByteView data);

/// Four uppercase hexadecimal digits and a lowercase "h" ("0303h").
std::string formatted(std::uint16_t value);

/// `formatted(displayedValue(data))`.
std::string formattedOf(ByteView data);

/// The text on the calculator's display: "ChE - - " followed by `formatted(value)`.
std::string testMenuDisplay(std::uint16_t value);

/// `testMenuDisplay(displayedValue(data))`.
std::string testMenuDisplayOf(ByteView data);

/// The verdict on firmware read from the calculator, against the shipped catalogue.
BackupChecksumAssessment backupAssessment(ByteView data);

/// The verdict on a firmware file chosen for flashing, against the shipped catalogue. When the
/// user skipped the backup, an earlier backup verdict is ignored.
FirmwareFileAssessment firmwareFileAssessment(ByteView data,
                                              const std::optional<BackupChecksumAssessment>& backup,
                                              bool backupSkipped);

} // namespace VoyagerFirmwareChecksum

} // namespace pelwick
