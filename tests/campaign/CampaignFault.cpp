#include "campaign/CampaignFault.h"

namespace pelwick::testing {

std::string faultClassName(FaultClass fault) {
    switch (fault) {
    case FaultClass::cableGone:
        return "cable-gone";
    case FaultClass::monitorSilent:
        return "monitor-silent";
    case FaultClass::replyCutShort:
        return "reply-cut-short";
    case FaultClass::wrongReplyByte:
        return "wrong-reply-byte";
    case FaultClass::pageNotProgrammed:
        return "page-not-programmed";
    case FaultClass::replyLate:
        return "reply-late";
    case FaultClass::strayBytes:
        return "stray-bytes";
    case FaultClass::lineNeverDrains:
        return "line-never-drains";
    }
    return "?";
}

std::optional<FaultClass> faultClassNamed(const std::string& name) {
    for (const FaultClass fault : allFaultClasses) {
        if (faultClassName(fault) == name) {
            return fault;
        }
    }
    return std::nullopt;
}

} // namespace pelwick::testing
