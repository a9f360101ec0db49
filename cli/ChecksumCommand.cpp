#include "Commands.h"
#include "JsonFacts.h"

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
    JsonReport::Json entries = JsonReport::Json::array();
    std::optional<ErrorDescription> firstError;
    bool first = true;
    for (const std::string& file : options.files) {
        // Read as a firmware file is read for a flash: only regular files, and no more of them
        // than an image can hold.
        Bytes data;
        try {
            data = FirmwareImage::load(file, false).data;
        } catch (...) {
            const ErrorDescription error = currentError();
            console.err << error.message << '\n';
            entries.push_back({{"file", file}, {"error", JsonReport::describe(error)}});
            if (!firstError) {
                firstError = error;
            }
            continue;
        }
        const bool flashable =
            static_cast<long long>(data.size()) == FlashLayout::expectedFirmwareByteCount;
        const FirmwareFileAssessment verdict =
            VoyagerFirmwareChecksum::firmwareFileAssessment(data, backup, false);
        if (console.report) {
            JsonReport::Json entry{
                {"file", file}, {"bytes", data.size()}, {"flashable", flashable}};
            entry.update(firmwareFileFacts(verdict));
            entry["error"] = nullptr;
            entries.push_back(std::move(entry));
            continue;
        }
        if (!first) {
            console.out << '\n';
        }
        first = false;
        console.out << file << '\n';
        console.out << "  Checksum:  " << VoyagerFirmwareChecksum::formattedOf(data) << '\n';
        console.out << "  Test menu: " << VoyagerFirmwareChecksum::testMenuDisplayOf(data) << '\n';
        if (!flashable) {
            // The checksum is still what such an image would show, but this file cannot be flashed.
            console.out << "  Size:      " << data.size() << " bytes; a firmware image has "
                        << FlashLayout::expectedFirmwareByteCount << " bytes.\n";
        }
        console.out << "  " << verdict.message() << '\n';
    }
    if (console.report) {
        JsonReport::Json against;
        if (backup) {
            against = {{"file", *options.against}};
            against.update(calculatorFirmwareFacts(*backup));
        }
        console.report->set("against", std::move(against));
        console.report->set("files", std::move(entries));
        if (firstError) {
            console.report->setError(*firstError);
        }
    }
    return firstError ? 1 : 0;
}

} // namespace pelwick
