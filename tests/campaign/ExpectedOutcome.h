#pragma once

#include "campaign/CampaignFault.h"
#include "campaign/ConversationStep.h"
#include "util/Bytes.h"

#include <string>
#include <vector>

namespace pelwick::testing {

/// What a fault must lead to, worked out from where it strikes in the clean conversation — never
/// from what the code under test happened to do.
struct ExpectedOutcome {
    enum class Kind {
        failure,      ///< the sequence fails with `text`
        tolerated,    ///< the protocol rides over it (a retry, a recovery, an unused value)
        undetectable, ///< the sequence succeeds with a wrong backup: the protocol has no check
    };
    Kind kind = Kind::failure;
    /// The exact sentence the user must read, for a failure.
    std::string text;
    /// Why a fault is tolerated or cannot be detected.
    std::string reason;
    /// The tolerated fault is a sign that the calculator did not keep up: a fast write must go
    /// on at the standard pace.
    bool slowsDown = false;
};

/// The expected outcome of `fault` in the conversation `steps`; `installed` is the application
/// the calculator held and `image` the one being flashed (for pageNotProgrammed).
ExpectedOutcome expectedOutcome(const std::vector<ConversationStep>& steps,
                                const CampaignFault& fault, const Bytes& installed,
                                const Bytes& image);

} // namespace pelwick::testing
