#include "firmware/FirmwareAssessment.h"

#include "firmware/KnownFirmware.h"
#include "firmware/VoyagerFirmwareChecksum.h"
#include "util/Format.h"

#include <ctime>

namespace pelwick {

namespace {

std::string checksumText(std::uint16_t displayed) {
    return "Checksum " + VoyagerFirmwareChecksum::formatted(displayed);
}

std::string recognizedSummary(std::uint16_t displayed, const KnownFirmwareEntry& known) {
    return checksumText(displayed) + ": " + known.displayName() + ".";
}

std::string safeToProceed(std::uint16_t displayed, const KnownFirmwareEntry& known) {
    return checksumText(displayed) + ": " + known.displayName() + ". It is safe to proceed.";
}

/// The calendar date of `date` in the local time zone, as "yyyyMMdd".
std::string localDateStamp(std::chrono::system_clock::time_point date) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch());
    const std::time_t time = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    localtime_r(&time, &local);
    return formatString("%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

} // namespace

BackupChecksumAssessment::BackupChecksumAssessment(std::uint16_t displayed)
    : BackupChecksumAssessment(displayed, KnownFirmware::all()) {}

BackupChecksumAssessment::BackupChecksumAssessment(std::uint16_t displayed,
                                                   const std::vector<KnownFirmwareEntry>& catalogue)
    : displayed_(displayed), known_(KnownFirmware::find(displayed, catalogue)) {}

std::string BackupChecksumAssessment::message() const {
    if (known_) {
        return safeToProceed(displayed_, *known_);
    }
    return checksumText(displayed_) +
           ". This firmware is not in the list of known versions. If your calculator runs "
           "firmware that isn’t listed yet, or a custom version, proceed at your own risk. If it "
           "runs a listed version, the firmware may not have been read correctly.";
}

std::string BackupChecksumAssessment::summary() const {
    return known_ ? recognizedSummary(displayed_, *known_) : message();
}

std::string
BackupChecksumAssessment::defaultBackupFileName(std::chrono::system_clock::time_point date) const {
    const std::string stem = known_ ? known_->fileName : "firmware";
    return stem + "-" + VoyagerFirmwareChecksum::formatted(displayed_) + "-" +
           localDateStamp(date) + ".bin";
}

FirmwareFileAssessment::FirmwareFileAssessment(
    std::uint16_t displayed, const std::optional<BackupChecksumAssessment>& backup)
    : FirmwareFileAssessment(displayed, backup, KnownFirmware::all()) {}

FirmwareFileAssessment::FirmwareFileAssessment(
    std::uint16_t displayed, const std::optional<BackupChecksumAssessment>& backup,
    const std::vector<KnownFirmwareEntry>& catalogue)
    : kind_(Kind::unrecognized), displayed_(displayed),
      known_(KnownFirmware::find(displayed, catalogue)) {
    if (!backup) {
        kind_ = known_ ? Kind::known : Kind::unrecognized;
        return;
    }
    onCalculator_ = backup->known();
    if (displayed == backup->displayed()) {
        kind_ = Kind::alreadyOnCalculator;
    } else if (!known_) {
        kind_ = Kind::unrecognized;
    } else if (onCalculator_ && onCalculator_->model != known_->model) {
        kind_ = Kind::otherModel;
    } else {
        kind_ = Kind::known;
    }
}

bool FirmwareFileAssessment::isCaution() const {
    return !(kind_ == Kind::known && onCalculator_);
}

std::string FirmwareFileAssessment::message() const {
    switch (kind_) {
    case Kind::alreadyOnCalculator:
        return checksumText(displayed_) +
               ". This firmware is already on the calculator. You don’t need to install it again.";
    case Kind::known:
        if (onCalculator_) {
            return safeToProceed(displayed_, *known_);
        }
        return checksumText(displayed_) + ": " + known_->displayName() +
               ". Make sure your calculator is an " + known_->model + ".";
    case Kind::otherModel:
        return checksumText(displayed_) + ": " + known_->displayName() + ". Your calculator has " +
               onCalculator_->model +
               " firmware, so this file is for a different model. Are you sure you want to "
               "install it?";
    case Kind::unrecognized:
        break;
    }
    return checksumText(displayed_) +
           ". This firmware is not in the list of known versions. Make sure it is made for your "
           "calculator’s model. Are you sure you want to install it?";
}

std::string FirmwareFileAssessment::summary() const {
    if (kind_ == Kind::known && onCalculator_) {
        return recognizedSummary(displayed_, *known_);
    }
    return message();
}

} // namespace pelwick
