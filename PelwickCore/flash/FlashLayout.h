#pragma once

#include "device/SerialPort.h"
#include "util/Bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelwick {

/// The address map of the calculator's 128 KiB flash: a 16 KiB bootloader that is never written
/// and the 112 KiB application region above it.
namespace FlashLayout {
inline constexpr std::uint32_t bootloaderStart = 0x00000;
inline constexpr std::uint32_t bootloaderSize = 0x04000;
inline constexpr std::uint32_t applicationStart = 0x04000;
inline constexpr std::uint32_t applicationSize = 0x1C000;
inline constexpr std::uint32_t applicationEnd = 0x20000;
inline constexpr long long expectedFirmwareByteCount = 0x1C000;

/// The whole range [address, address + length) lies in the application region.
bool isSafeApplicationRange(std::uint32_t address, std::uint32_t length);
} // namespace FlashLayout

/// A firmware file loaded from disk: raw flash content for 0x04000–0x1FFFF.
struct FirmwareImage {
    std::filesystem::path url; ///< the file, with "." and ".." resolved
    Bytes data;

    /// Fails with firmwareEmpty, firmwareTooLarge or (with `requireExactSize`) firmwareWrongSize.
    static void validate(ByteView data, bool requireExactSize);
    /// Reads a regular file once, at most one byte more than an image can hold, and validates it.
    /// Fails with firmwareNotFound for a file that does not exist, firmwareTooLarge (with the
    /// file's size) for one that is too large, the file system's error for one that cannot be
    /// read (no permission; a folder, named pipe, device or socket, refused without waiting on
    /// it), or a validation error.
    static FirmwareImage load(const std::filesystem::path& url, bool requireExactSize);

    bool operator==(const FirmwareImage& other) const = default;
};

/// A validated request to write one image at one address.
struct FlashPlan {
    FirmwareImage image;
    std::uint32_t address = 0;
    std::optional<SerialPort> port; ///< the preferred cable when the plan was made

    long long byteCount() const { return static_cast<long long>(image.data.size()); }

    bool operator==(const FlashPlan& other) const = default;
};

/// One page as it was written, for the page preview.
struct FlashPageWrite {
    std::uint32_t flashOffset = 0;
    int pageIndex = 0;
    int pageCount = 0;
    Bytes pageData;

    /// "Page 1 of 224 · 0x04000".
    std::string header() const;
    /// The page as little-endian 16-bit words, "%04X", `wordsPerLine` to a line (all in one line
    /// when it is 0 or less).
    std::vector<std::string> formattedWordLines(int wordsPerLine) const;

    bool operator==(const FlashPageWrite& other) const = default;
};

} // namespace pelwick
