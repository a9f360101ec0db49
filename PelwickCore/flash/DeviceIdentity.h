#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pelwick {

/// The chip behind the monitor, from its CHIPID and CPUID registers.
struct DeviceIdentity {
    std::uint32_t cidr = 0;  ///< CHIPID CIDR exactly as read
    std::uint32_t exid = 0;  ///< CHIPID EXID exactly as read
    std::uint32_t cpuid = 0; ///< Cortex-M CPUID exactly as read
    std::string name;        ///< chip name, "ATSAM4Lx2" or "unknown"
    long long flashBytes = 0;

    /// The CPUID part number is 0xC24.
    bool isCortexM4() const { return (cpuid & 0xFFF0) == 0xC240; }
    /// The CIDR architecture field is 0xB0.
    bool isSAM4L() const { return (cidr & 0x0FF00000) == 0x0B000000; }
    /// A 128 KiB SAM4L with a Cortex-M4: the only chip that may be backed up, written or verified.
    bool isSupported15C() const { return flashBytes == 0x20000 && isCortexM4() && isSAM4L(); }

    bool operator==(const DeviceIdentity& other) const = default;
};

/// The SAM4L parts we can name, and the lookup from the identification registers.
namespace SAM4LChipTable {

struct Row {
    std::uint32_t cidr; ///< with the revision bits 4–0 zero
    std::uint32_t exid;
    const char* name;
    int flashKiB;
};

extern const std::array<Row, 8> known;

/// Never fails: an EXID outside the table on a 128 KiB SAM4L gives "ATSAM4Lx2", anything else
/// "unknown" with no flash.
DeviceIdentity identify(std::uint32_t cidr, std::uint32_t exid, std::uint32_t cpuid);

} // namespace SAM4LChipTable

} // namespace pelwick
