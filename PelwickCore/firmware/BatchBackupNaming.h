#pragma once

#include <filesystem>
#include <string>

namespace pelwick {

/// Names of the backup files of a batch session. The same for every model and firmware.
namespace BatchBackupNaming {

/// "hp15c-<sessionStamp>-<unit, at least three digits>.bin", e.g. "hp15c-20261205-101500-007.bin".
std::string filename(const std::string& sessionStamp, int unitNumber);

/// `folder` with `filename(sessionStamp, unitNumber)` appended.
std::filesystem::path fileURL(const std::filesystem::path& folder, const std::string& sessionStamp,
                              int unitNumber);

} // namespace BatchBackupNaming

} // namespace pelwick
