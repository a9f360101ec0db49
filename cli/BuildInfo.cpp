#include "BuildInfo.h"

#include "BuildCommit.h"
#include "samba/SambaAppletImage.h"

namespace pelwick {

std::string programVersion() {
    return PELWICK_VERSION;
}

std::string buildCommit() {
    return PELWICK_BUILD_COMMIT;
}

std::string versionLine() {
    const std::string commit = buildCommit();
    return "pelwick-cli " + programVersion() + " (commit " +
           (commit.empty() ? std::string("unknown") : commit) + ", flash applet " +
           std::to_string(sambaAppletImage().size()) + " bytes)";
}

} // namespace pelwick
