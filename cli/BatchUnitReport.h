#pragma once

#include "JsonReport.h"

#include <filesystem>
#include <optional>
#include <string>

namespace pelwick {

/// What became of one calculator in a batch.
struct BatchUnitReport {
    int number = 0;
    std::string port;
    /// The chip's name, once the calculator answered.
    std::optional<std::string> chip;
    /// The backup's file name, once it was saved.
    std::optional<std::string> backupFile;
    bool succeeded = false;
    /// "Flashed and verified." or what went wrong.
    std::string result;
    /// The kind of failure (ErrorDescription), for a unit that failed.
    std::string errorKind;
    /// How far the flash got: "notWritten", "incomplete" (the write began, or the verify found a
    /// difference), "unverified" (every page written, the verify not done), "flashed".
    std::string flashResult = "notWritten";
    /// A fast transfer went on at the standard pace.
    bool fellBack = false;
    double seconds = 0;

    /// "#3  /dev/ttyACM1  ATSAM4LC2C  backup hp15c-20261206-160501-003.bin  Flashed and
    /// verified.  4.2 s"; "?" stands for a chip that never answered, "no backup" for a unit
    /// without a saved backup.
    std::string line() const;
    /// {"type": "unit", "unit", "port", "chip", "backup" (its path in `backupFolder`), "ok",
    /// "result" (flashResult), "fellBack", "seconds", "error"}: one line of a batch's --json
    /// output.
    JsonReport::Json json(const std::optional<std::filesystem::path>& backupFolder) const;
};

} // namespace pelwick
