#pragma once

#include <cstdint>
#include <string>

namespace pelwick {

/// One catalogued firmware, recognised by the checksum the calculator's test menu shows for it.
struct KnownFirmwareEntry {
    /// The displayed checksum of this firmware.
    std::uint16_t checksum = 0;
    /// The calculator model the firmware is for; one of `KnownFirmware::models()`.
    std::string model;
    /// A file-name stem used to name backups: lowercase letters, digits and hyphens only.
    std::string fileName;
    /// Free text that tells this version apart from others (may be empty).
    std::string description;

    /// `model`, a blank and `description` (the blank is there also when `description` is empty).
    std::string displayName() const;

    bool operator==(const KnownFirmwareEntry&) const = default;
};

} // namespace pelwick
