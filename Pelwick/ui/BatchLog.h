#pragma once

#include "store/BatchPhase.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelwick {

class FlasherStore;

/// The units of the running batch session, as the batch screen lists them. The store keeps only
/// the current unit; the log records each unit when its phase ends (done or failed), and starts
/// afresh when a session is set up again.
class BatchLog {
public:
    struct Unit {
        int number = 0;
        /// The port the unit was found on; empty when none was seen.
        std::string port;
        /// The unit's backup file in the session's folder, when one was written.
        std::optional<std::string> backupFile;
        /// Flashed and verified; otherwise the unit failed.
        bool done = false;
        /// Why a unit failed.
        std::string error;
        /// Local time of the outcome, "HH:MM:SS".
        std::string time;

        bool operator==(const Unit&) const = default;
    };

    /// Follows the store after a change; `time` is the time of day to record for an outcome.
    void observe(const FlasherStore& store, const std::string& time);

    const std::vector<Unit>& units() const { return units_; }
    int doneCount() const;
    int failedCount() const;

    /// The newest backup of `unit` in `folder`: the session's name for it, or the numbered name
    /// ("…-003-2.bin") that a later attempt took because the first one exists.
    static std::optional<std::string> backupFileOf(const std::filesystem::path& folder,
                                                   const std::string& sessionStamp, int unit);

private:
    std::vector<Unit> units_;
    BatchPhase phase_ = BatchPhase::setup;
    int unit_ = 0;
    std::string port_;
};

} // namespace pelwick
