#include "flash/DeviceIdentity.h"

namespace pelwick::SAM4LChipTable {

const std::array<Row, 8> known = {{
    {0xAB0A07E0, 0x0400000F, "ATSAM4LC2C", 128},
    {0xAB0A07E0, 0x0300000F, "ATSAM4LC2B", 128},
    {0xAB0A07E0, 0x0200000F, "ATSAM4LC2A", 128},
    {0xAB0A07E0, 0x04000002, "ATSAM4LS2C", 128},
    {0xAB0A07E0, 0x03000002, "ATSAM4LS2B", 128},
    {0xAB0A07E0, 0x02000002, "ATSAM4LS2A", 128},
    {0xAB0A09E0, 0x0400000F, "ATSAM4LC4C", 256},
    {0xAB0B0AE0, 0x1400000F, "ATSAM4LC8C", 512},
}};

DeviceIdentity identify(std::uint32_t cidr, std::uint32_t exid, std::uint32_t cpuid) {
    for (const Row& row : known) {
        // The low five bits of CIDR are the silicon revision and do not tell parts apart.
        if ((row.cidr ^ cidr) <= 0x1F && row.exid == exid) {
            return {cidr, exid, cpuid, row.name, static_cast<long long>(row.flashKiB) * 1024};
        }
    }
    if ((cidr & 0xFFFFFFE0) == 0xAB0A07E0) {
        return {cidr, exid, cpuid, "ATSAM4Lx2", 0x20000};
    }
    return {cidr, exid, cpuid, "unknown", 0};
}

} // namespace pelwick::SAM4LChipTable
