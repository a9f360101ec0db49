#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace pelwick::testing {

/// The kinds of fault the campaign injects.
enum class FaultClass {
    cableGone,         ///< the cable goes at one write and stays gone
    monitorSilent,     ///< the monitor takes one write, then never answers again
    replyCutShort,     ///< one reply loses its last byte
    wrongReplyByte,    ///< one byte of one reply is inverted
    pageNotProgrammed, ///< the applet acknowledges one page but flash keeps its old content
    replyLate,         ///< one reply comes after its time-out, ahead of the next reply
    strayBytes,        ///< stray bytes arrive ahead of one reply
    lineNeverDrains,   ///< from one write on, the line takes nothing: every write times out
};

constexpr std::array<FaultClass, 8> allFaultClasses = {
    FaultClass::cableGone,      FaultClass::monitorSilent,     FaultClass::replyCutShort,
    FaultClass::wrongReplyByte, FaultClass::pageNotProgrammed, FaultClass::replyLate,
    FaultClass::strayBytes,     FaultClass::lineNeverDrains};

/// "cable-gone", "monitor-silent", "reply-cut-short", "wrong-reply-byte", "page-not-programmed",
/// "reply-late", "stray-bytes", "line-never-drains".
std::string faultClassName(FaultClass fault);
std::optional<FaultClass> faultClassNamed(const std::string& name);

/// One fault of the campaign: its class and where it strikes.
struct CampaignFault {
    FaultClass fault = FaultClass::cableGone;
    /// Index into the clean conversation's steps; for pageNotProgrammed, the 1-based page.
    std::size_t step = 0;
    /// For wrongReplyByte, the reply byte that is inverted.
    std::size_t byte = 0;
};

} // namespace pelwick::testing
