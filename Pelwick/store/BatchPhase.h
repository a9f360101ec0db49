#pragma once

#include <optional>
#include <string>

namespace pelwick {

/// Where a batch session is with its current unit.
enum class BatchPhase { setup, waiting, backingUp, flashing, unitDone, error };

/// Whether each batch unit's old firmware is saved to the backup folder first.
enum class BatchBackupChoice { skip, autoSave };

/// "skip" or "autoSave".
inline std::string rawValue(BatchBackupChoice choice) {
    return choice == BatchBackupChoice::skip ? "skip" : "autoSave";
}

/// The choice whose raw value is exactly `raw`; none for anything else.
inline std::optional<BatchBackupChoice> batchBackupChoiceFromRaw(const std::string& raw) {
    if (raw == "skip") {
        return BatchBackupChoice::skip;
    }
    if (raw == "autoSave") {
        return BatchBackupChoice::autoSave;
    }
    return std::nullopt;
}

} // namespace pelwick
