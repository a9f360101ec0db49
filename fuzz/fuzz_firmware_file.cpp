// Firmware file checks on arbitrary contents: validation, loading from a file, the checksum and
// the verdicts, and the page preview texts.
#include "device/FlasherError.h"
#include "firmware/FirmwareAssessment.h"
#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string scratchFile() {
    static const std::string path = "/tmp/pelwick-fuzz-firmware-" + std::to_string(::getpid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pelwick::ByteView bytes(data, size);
    for (bool exact : {false, true}) {
        try {
            pelwick::FirmwareImage::validate(bytes, exact);
        } catch (const pelwick::FlasherError&) {
        }
    }
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        (void)pelwick::FirmwareImage::load(scratchFile(), false);
    } catch (const pelwick::FlasherError&) {
    }
    const std::vector<pelwick::KnownFirmwareEntry> catalogue = {
        {0x9090, "HP 12c", "test-a", "fuzz"},
        {0x0101, "HP 15c Collector\u2019s Edition", "test-b", ""},
    };
    const pelwick::BackupChecksumAssessment backup(
        pelwick::VoyagerFirmwareChecksum::displayedValue(bytes), catalogue);
    (void)backup.message();
    const pelwick::FirmwareFileAssessment file(
        pelwick::VoyagerFirmwareChecksum::displayedValue(bytes.subspan(size / 2)), backup,
        catalogue);
    (void)file.message();
    (void)file.summary();
    pelwick::FlashPageWrite page{0x4000, 0, 1, pelwick::Bytes(bytes.begin(), bytes.end())};
    (void)page.header();
    (void)page.formattedWordLines(size > 0 ? data[0] % 20 - 2 : 16);
    return 0;
}
