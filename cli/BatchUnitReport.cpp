#include "BatchUnitReport.h"

#include "util/Format.h"

namespace pelwick {

std::string BatchUnitReport::line() const {
    const std::string backup = backupFile ? "backup " + *backupFile : "no backup";
    return formatString("#%d  %s  %s  %s  %s  %.1f s", number, port.c_str(),
                        chip ? chip->c_str() : "?", backup.c_str(), result.c_str(), seconds);
}

} // namespace pelwick
