#include "BuildInfo.h"
#include "Commands.h"
#include "JsonReport.h"

#include "samba/SambaAppletImage.h"

#include <ostream>

namespace pelwick {

int runVersionCommand(Console& console) {
    if (console.report) {
        const std::string commit = buildCommit();
        console.report->set("version", programVersion());
        console.report->set("commit",
                            commit.empty() ? JsonReport::Json() : JsonReport::Json(commit));
        console.report->set("appletBytes", sambaAppletImage().size());
        return 0;
    }
    console.out << versionLine() << '\n';
    return 0;
}

} // namespace pelwick
