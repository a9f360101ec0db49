#include "Commands.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"
#include "util/FileIO.h"

#include <optional>
#include <ostream>

namespace pelwick {

int runChecksumCommand(const ChecksumOptions& options, Console& console) {
    std::optional<BackupChecksumAssessment> backup;
    if (options.against) {
        backup = VoyagerFirmwareChecksum::backupAssessment(
            FirmwareImage::load(*options.against, false).data);
    }
    int status = 0;
    bool first = true;
    for (const std::string& file : options.files) {
        // Read as a firmware file is read for a flash: only regular files, and no more of them
        // than an image can hold.
        Bytes data;
        try {
            data = FirmwareImage::load(file, false).data;
        } catch (...) {
            console.err << currentExceptionMessage() << '\n';
            status = 1;
            continue;
        }
        if (!first) {
            console.out << '\n';
        }
        first = false;
        console.out << file << '\n';
        console.out << "  Checksum:  " << VoyagerFirmwareChecksum::formattedOf(data) << '\n';
        console.out << "  Test menu: " << VoyagerFirmwareChecksum::testMenuDisplayOf(data) << '\n';
        if (static_cast<long long>(data.size()) != FlashLayout::expectedFirmwareByteCount) {
            // The checksum is still what such an image would show, but this file cannot be flashed.
            console.out << "  Size:      " << data.size() << " bytes; a firmware image has "
                        << FlashLayout::expectedFirmwareByteCount << " bytes.\n";
        }
        console.out
            << "  "
            << VoyagerFirmwareChecksum::firmwareFileAssessment(data, backup, false).message()
            << '\n';
    }
    return status;
}

} // namespace pelwick
