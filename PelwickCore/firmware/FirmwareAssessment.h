#pragma once

#include "firmware/KnownFirmwareEntry.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelwick {

/// The verdict on the firmware read from a calculator (its backup): is it a known version, and what
/// the backup file should be called. Immutable; built only through its constructors.
class BackupChecksumAssessment {
public:
    /// Looks `displayed` up in the shipped catalogue.
    explicit BackupChecksumAssessment(std::uint16_t displayed);
    /// Looks `displayed` up in `catalogue`.
    BackupChecksumAssessment(std::uint16_t displayed,
                             const std::vector<KnownFirmwareEntry>& catalogue);

    /// The displayed checksum of the firmware read from the calculator.
    std::uint16_t displayed() const { return displayed_; }
    /// The catalogue entry with that checksum, if any.
    const std::optional<KnownFirmwareEntry>& known() const { return known_; }

    bool isRecognized() const { return known_.has_value(); }

    /// The verdict shown before going on: safe to proceed, or not a listed version.
    std::string message() const;
    /// The short form of `message` for a recognised firmware; `message` otherwise.
    std::string summary() const;

    /// "<fileName or firmware>-<checksum>-<yyyyMMdd>.bin", the date in the local time zone.
    std::string defaultBackupFileName(std::chrono::system_clock::time_point date) const;

    bool operator==(const BackupChecksumAssessment&) const = default;

private:
    std::uint16_t displayed_;
    std::optional<KnownFirmwareEntry> known_;
};

/// The verdict on the firmware file chosen for flashing, against the catalogue and against the
/// firmware on the calculator. Immutable; built only through its constructors.
class FirmwareFileAssessment {
public:
    enum class Kind { alreadyOnCalculator, known, otherModel, unrecognized };

    /// Classifies `displayed` against the shipped catalogue and the backup verdict, if one was
    /// taken.
    FirmwareFileAssessment(std::uint16_t displayed,
                           const std::optional<BackupChecksumAssessment>& backup);
    /// Classifies `displayed` against `catalogue`.
    FirmwareFileAssessment(std::uint16_t displayed,
                           const std::optional<BackupChecksumAssessment>& backup,
                           const std::vector<KnownFirmwareEntry>& catalogue);

    Kind kind() const { return kind_; }
    /// The displayed checksum of the chosen file.
    std::uint16_t displayed() const { return displayed_; }
    /// The catalogue entry of the chosen file, if any.
    const std::optional<KnownFirmwareEntry>& known() const { return known_; }
    /// The catalogue entry of the calculator's firmware, when a backup was taken and recognised.
    const std::optional<KnownFirmwareEntry>& onCalculator() const { return onCalculator_; }

    /// False only for a catalogued file for the model the calculator is known to run.
    bool isCaution() const;
    std::string message() const;
    /// The short form of `message` when the file is safe to flash; `message` otherwise.
    std::string summary() const;

    bool operator==(const FirmwareFileAssessment&) const = default;

private:
    Kind kind_;
    std::uint16_t displayed_;
    std::optional<KnownFirmwareEntry> known_;
    std::optional<KnownFirmwareEntry> onCalculator_;
};

} // namespace pelwick
