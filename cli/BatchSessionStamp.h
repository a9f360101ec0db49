#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace pelwick {

/// The stamp that names a batch's backups (BatchBackupNaming): the local time of `now` as
/// "yyyyMMdd-HHmmss". When `folder` already holds a backup of a batch with that stamp (a batch
/// started within the same second), the stamp moves on a second at a time, so that a new batch
/// never replaces an earlier one's files.
std::string batchSessionStamp(std::chrono::system_clock::time_point now,
                              const std::optional<std::filesystem::path>& folder);

} // namespace pelwick
