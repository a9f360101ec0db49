#include "firmware/BatchBackupNaming.h"

#include "util/Format.h"

namespace pelwick::BatchBackupNaming {

std::string filename(const std::string& sessionStamp, int unitNumber) {
    return formatString("hp15c-%s-%03d.bin", sessionStamp.c_str(), unitNumber);
}

std::filesystem::path fileURL(const std::filesystem::path& folder, const std::string& sessionStamp,
                              int unitNumber) {
    return folder / filename(sessionStamp, unitNumber);
}

} // namespace pelwick::BatchBackupNaming
