#include "ui/BatchLog.h"

#include "firmware/BatchBackupNaming.h"
#include "store/FlasherStore.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace pelwick {

void BatchLog::observe(const FlasherStore& store, const std::string& time) {
    const BatchPhase phase = store.batchPhase();
    const int unit = store.batchUnitNumber();
    if (phase == BatchPhase::setup) {
        units_.clear();
    }
    if (phase == BatchPhase::setup || (phase == BatchPhase::waiting && unit != unit_)) {
        port_.clear(); // a new unit: its port is not known yet
    }
    if (const auto& port = store.portPath(); port && phase != BatchPhase::setup) {
        port_ = *port; // the port the current unit is found on
    }
    const bool ended = phase == BatchPhase::unitDone || phase == BatchPhase::error;
    if (ended && (phase != phase_ || unit != unit_)) {
        Unit record;
        record.number = std::max(unit, 1);
        record.port = port_;
        if (store.batchBackupChoice() == BatchBackupChoice::autoSave && store.batchBackupFolder() &&
            store.batchSessionStamp()) {
            record.backupFile =
                backupFileOf(*store.batchBackupFolder(), *store.batchSessionStamp(), record.number);
        }
        record.done = phase == BatchPhase::unitDone;
        record.error = record.done ? "" : store.lastError().value_or("");
        record.time = time;
        units_.push_back(record);
    }
    phase_ = phase;
    unit_ = unit;
}

int BatchLog::doneCount() const {
    return int(std::count_if(units_.begin(), units_.end(), [](const Unit& u) { return u.done; }));
}

int BatchLog::failedCount() const {
    return int(units_.size()) - doneCount();
}

std::optional<std::string> BatchLog::backupFileOf(const std::filesystem::path& folder,
                                                  const std::string& sessionStamp, int unit) {
    const std::string name = BatchBackupNaming::filename(sessionStamp, unit);
    const std::string stem = name.substr(0, name.size() - 4); // without ".bin"
    std::optional<std::string> newest;
    int newestNumber = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string file = entry.path().filename().string();
        int number = 0;
        if (file == name) {
            number = 1;
        } else if (file.size() > stem.size() + 5 && file.starts_with(stem + "-") &&
                   file.ends_with(".bin")) {
            const std::string digits = file.substr(stem.size() + 1, file.size() - stem.size() - 5);
            if (std::all_of(digits.begin(), digits.end(),
                            [](unsigned char c) { return std::isdigit(c); }) &&
                digits.size() <= 4) {
                number = std::stoi(digits);
            }
        }
        if (number > newestNumber) {
            newestNumber = number;
            newest = file;
        }
    }
    return newest;
}

} // namespace pelwick
