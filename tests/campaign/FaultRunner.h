#pragma once

#include "campaign/CampaignFault.h"
#include "campaign/ConversationStep.h"
#include "campaign/ExpectedOutcome.h"
#include "device/FlasherError.h"
#include "flash/FlashLayout.h"
#include "samba/TransferPace.h"
#include "support/TempDir.h"
#include "util/Bytes.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// What one pass of the flash sequence did.
struct SequenceOutcome {
    std::optional<FlasherError> error;
    std::string otherError; ///< the text of a failure that was not a FlasherError
    std::optional<Bytes> backup;
    /// The final (1.0, verifying) came: the sequence reported a flashed and verified calculator.
    bool completionHeard = false;
    /// How often the write said that it fell back to the standard pace.
    int paceFallbacks = 0;

    bool succeeded() const { return !error && otherError.empty(); }
    /// The sentence the user would read; empty on success.
    std::string failureText() const;
};

/// Everything observed about one injected fault and the recovery after it.
struct FaultRunResult {
    CampaignFault fault;
    TransferPace::Mode pace = TransferPace::Mode::standard;
    ExpectedOutcome expected;
    bool injected = false;
    SequenceOutcome outcome;
    bool memoryMatches = false; ///< the application region equals the image afterwards
    int backupWrongBytes = 0;   ///< bytes in which the backup differs from what was installed
    int bootloaderWrites = 0;   ///< stores, commands and applet writes aimed below 0x4000
    int bootloaderUnlocks = 0;  ///< applet unlocks of the bootloader's lock regions
    bool recovered = false;     ///< a fresh connection then flashed and verified
    std::string recoveryFailure;
    int recoveryPaceFallbacks = 0;
};

/// Runs the single-calculator flash sequence (connect, identify, back up, write every page,
/// verify) against an in-process simulated calculator, cleanly once to learn the conversation,
/// then once per fault, each time on a fresh calculator holding a known application. Writes go at
/// a cable's standard pace or fast; the pauses cost no time (they change no command sent).
class FaultRunner {
public:
    FaultRunner();

    /// The clean conversation, one step per transport write.
    const std::vector<ConversationStep>& steps() const { return steps_; }
    int pageCount() const;

    /// How many of the places a fault can strike are tried.
    enum class Coverage {
        every,   ///< every step (and every garbled byte)
        sampled, ///< the first and last few, a regular stride, the first and last of every kind
        quick,   ///< the first of every kind, one garbled byte each (for sanitizer builds)
    };

    /// The faults of one class at the steps `coverage` picks, deterministically.
    std::vector<CampaignFault> faults(FaultClass fault, Coverage coverage) const;

    /// Injects one fault, runs the sequence at `pace`, checks the calculator, then reconnects
    /// afresh and flashes again at that pace. Safe to call from several threads at once.
    FaultRunResult run(const CampaignFault& fault, TransferPace::Mode pace) const;

private:
    TempDir folder_;
    Bytes installed_;
    Bytes image_;
    FirmwareImage firmware_;
    std::vector<ConversationStep> steps_;
};

} // namespace pelwick::testing
