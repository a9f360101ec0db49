#include "BatchUnitReport.h"

#include "util/Format.h"

#include <cmath>

namespace pelwick {

std::string BatchUnitReport::line() const {
    const std::string backup = backupFile ? "backup " + *backupFile : "no backup";
    return formatString("#%d  %s  %s  %s  %s  %.1f s", number, port.c_str(),
                        chip ? chip->c_str() : "?", backup.c_str(), result.c_str(), seconds);
}

JsonReport::Json
BatchUnitReport::json(const std::optional<std::filesystem::path>& backupFolder) const {
    using Json = JsonReport::Json;
    return Json{
        {"type", "unit"},
        {"unit", number},
        {"port", port},
        {"chip", chip ? Json(*chip) : Json()},
        {"backup",
         backupFile && backupFolder ? Json((*backupFolder / *backupFile).string()) : Json()},
        {"ok", succeeded},
        {"result", flashResult},
        {"fellBack", fellBack},
        {"seconds", std::round(seconds * 1000) / 1000},
        {"error", succeeded ? Json() : JsonReport::describe({errorKind, result})},
    };
}

} // namespace pelwick
