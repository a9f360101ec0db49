#include "campaign/ExpectedOutcome.h"

#include "flash/DeviceIdentity.h"
#include "flash/FlashCalw.h"
#include "util/Format.h"

#include <algorithm>
#include <map>

namespace pelwick::testing {

namespace {

using Kind = ExpectedOutcome::Kind;

// The user texts, written out here rather than taken from the code under test.
const std::string kLeaveCable = "Leave the cable plugged in. If Status is not Connected, hold "
                                "ERASE, press RESET, then release ERASE.";
const std::string kGenericTimeout = "Timed out talking to SAM-BA. " + kLeaveCable;
const std::string kCableGone = "The programming cable disconnected. Hold ERASE, press RESET, then "
                               "release ERASE and wait for the port to reappear.";
const std::string kVerifyMismatch = "Verify failed: flash contents do not match the firmware "
                                    "file. Leave the cable in programming mode and try again.";
const std::string kShiftedReply = "SAM-BA protocol error: unexpected bytes after a reply";

// The chip's RAM and where the applet sits in it.
constexpr std::uint64_t kRamStart = 0x20000000;
constexpr std::uint64_t kRamEnd = 0x20008000;
constexpr std::uint64_t kAppletStart = 0x20002000;
constexpr std::uint64_t kAppletEnd = kAppletStart + 2652;
constexpr std::uint32_t kMailbox = 0x20002040;
constexpr std::size_t kPageSize = 512;

ExpectedOutcome failure(std::string text) {
    return {Kind::failure, std::move(text), {}};
}

ExpectedOutcome tolerated(std::string reason, bool slowsDown = false) {
    return {Kind::tolerated, {}, std::move(reason), slowsDown};
}

std::string timedOut(const std::string& activity) {
    return "Timed out " + activity + ". " + kLeaveCable;
}

std::string protocolError(const std::string& detail) {
    return "SAM-BA protocol error: " + detail;
}

int pageCount(const std::vector<ConversationStep>& steps) {
    int pages = 0;
    for (const ConversationStep& step : steps) {
        pages = std::max(pages, step.page);
    }
    return pages;
}

// The time-out the user reads when the replies stop during `step`.
std::string timeoutText(const std::vector<ConversationStep>& steps, const ConversationStep& step) {
    switch (step.phase) {
    case SequencePhase::connect:
    case SequencePhase::backup:
        return kGenericTimeout;
    case SequencePhase::writeIdentify:
        return timedOut("identifying the calculator");
    case SequencePhase::appletStart:
        return timedOut("starting the flash applet");
    case SequencePhase::unlock:
        return timedOut("unlocking flash");
    case SequencePhase::page:
        return timedOut("writing page " + std::to_string(step.page) + " of " +
                        std::to_string(pageCount(steps)));
    case SequencePhase::verify:
        return timedOut("verifying firmware");
    }
    return {};
}

// The words that the steps of one phase read, by address, as answered in the clean sequence.
std::map<std::uint32_t, std::uint32_t> wordsOfPhase(const std::vector<ConversationStep>& steps,
                                                    SequencePhase phase, StepRole role) {
    std::map<std::uint32_t, std::uint32_t> words;
    for (const ConversationStep& step : steps) {
        if (step.phase == phase && step.role == role) {
            words.emplace(step.address, step.replyWord());
        }
    }
    return words;
}

// Identification with one register garbled: a chip that no longer passes as supported is refused.
ExpectedOutcome garbledIdentity(const std::vector<ConversationStep>& steps,
                                const ConversationStep& step, std::uint32_t garbled) {
    auto words = wordsOfPhase(steps, step.phase, StepRole::identifyWord);
    words[step.address] = garbled;
    const DeviceIdentity identity = SAM4LChipTable::identify(
        words[FlashCalw::chipidCIDR], words[FlashCalw::chipidEXID], words[FlashCalw::cpuid]);
    if (!identity.isCortexM4()) {
        return tolerated("a chip that is not a Cortex-M4 is read once more",
                         step.phase == SequencePhase::writeIdentify);
    }
    if (identity.isSupported15C()) {
        return tolerated("the garbled register still names a supported chip");
    }
    return failure(formatString("Unsupported chip %s (CIDR=0x%08X EXID=0x%08X). This tool is for "
                                "post-2015 Voyager calculators (15c CE, 16c CE, 12c) with an "
                                "ATSAM4LC2C.",
                                identity.name.c_str(), identity.cidr, identity.exid));
}

// INIT with one result word garbled: a buffer that is not free RAM or smaller than a page is
// refused; the lock geometry and memory size only steer unlocking, which the simulated applet
// does not enforce.
ExpectedOutcome garbledInit(const std::vector<ConversationStep>& steps,
                            const ConversationStep& step, std::uint32_t garbled) {
    auto words = wordsOfPhase(steps, SequencePhase::appletStart, StepRole::result);
    words[step.address] = garbled;
    const std::uint64_t buffer = words[kMailbox + 0x0C];
    const std::uint64_t bufferSize = words[kMailbox + 0x10];
    const std::uint64_t pageSize = words[kMailbox + 0x18];
    if (buffer == 0 || bufferSize == 0 || pageSize == 0) {
        return failure(protocolError("applet INIT returned an empty buffer"));
    }
    const std::uint64_t end = buffer + bufferSize;
    if (buffer < kRamStart || end > kRamEnd || (buffer < kAppletEnd && end > kAppletStart)) {
        return failure(protocolError(
            formatString("applet INIT returned a buffer outside free RAM (0x%08X, %u bytes)",
                         static_cast<unsigned>(buffer), static_cast<unsigned>(bufferSize))));
    }
    if (pageSize > bufferSize) {
        return failure(protocolError("applet WRITE size " + std::to_string(pageSize) +
                                     " exceeds buffer " + std::to_string(bufferSize)));
    }
    return tolerated("INIT value that only steers unlocking or is unused");
}

ExpectedOutcome afterSilence(const std::vector<ConversationStep>& steps, std::size_t index) {
    // The monitor took this write and hangs: the first exchange that waits for an answer fails.
    for (std::size_t i = index; i < steps.size(); ++i) {
        if (steps[i].awaitsReply()) {
            return failure(timeoutText(steps, steps[i]));
        }
    }
    return tolerated("nothing waits for an answer afterwards");
}

ExpectedOutcome afterCutReply(const std::vector<ConversationStep>& steps,
                              const ConversationStep& step) {
    switch (step.role) {
    case StepRole::binaryMode:
        return tolerated("the echo of \"N#\" is discarded");
    case StepRole::version:
        return tolerated("connect recovers through terminal mode");
    case StepRole::poll:
    case StepRole::status:
        return tolerated("a poll that times out is asked again", true);
    default:
        return failure(timeoutText(steps, step));
    }
}

// The line takes nothing from this write on: the write itself times out, named after what the
// sequence was doing.
ExpectedOutcome afterStall(const std::vector<ConversationStep>& steps,
                           const ConversationStep& step) {
    const bool upload =
        step.command.starts_with(formatString("S%08X,", static_cast<unsigned>(kAppletStart)));
    return failure(upload ? timedOut("uploading the flash applet") : timeoutText(steps, step));
}

ExpectedOutcome afterStrayBytes(const ConversationStep& step) {
    switch (step.role) {
    case StepRole::binaryMode:
        return tolerated("connect waits for the line to go quiet after \"N#\"");
    case StepRole::version:
        return tolerated("a version line that is not text is asked for again");
    default:
        // On a line in step, bytes beyond a reply show that it was shifted.
        return failure(kShiftedReply);
    }
}

ExpectedOutcome afterWrongByte(const std::vector<ConversationStep>& steps,
                               const ConversationStep& step, std::size_t byte) {
    const std::uint32_t garbled = step.replyWord(byte);
    switch (step.role) {
    case StepRole::binaryMode:
        return tolerated("the echo of \"N#\" is discarded");
    case StepRole::version:
        return tolerated("the version line is only shown, or recovered by connect");
    case StepRole::identifyWord:
        return garbledIdentity(steps, step, garbled);
    case StepRole::poll:
        return tolerated("an unfinished-looking command word is polled again", true);
    case StepRole::status:
        if (step.phase == SequencePhase::unlock) {
            return tolerated("an unlock the applet refuses is passed over");
        }
        return failure(formatString("SAM-BA flash applet failed (status=0x%08X). ", garbled) +
                       kLeaveCable);
    case StepRole::result:
        if (step.phase == SequencePhase::appletStart) {
            return garbledInit(steps, step, garbled);
        }
        return tolerated("the count a WRITE reports is not used");
    case StepRole::blockRead:
        if (step.phase == SequencePhase::verify) {
            return failure(kVerifyMismatch);
        }
        return {Kind::undetectable, {}, "block reads carry no checksum"};
    default:
        return tolerated("not answered");
    }
}

} // namespace

ExpectedOutcome expectedOutcome(const std::vector<ConversationStep>& steps,
                                const CampaignFault& fault, const Bytes& installed,
                                const Bytes& image) {
    switch (fault.fault) {
    case FaultClass::cableGone:
        return failure(kCableGone);
    case FaultClass::monitorSilent:
        return afterSilence(steps, fault.step);
    case FaultClass::replyCutShort:
        return afterCutReply(steps, steps.at(fault.step));
    case FaultClass::wrongReplyByte:
        return afterWrongByte(steps, steps.at(fault.step), fault.byte);
    case FaultClass::replyLate:
        // Within its exchange a late reply is no reply; afterwards it must change nothing.
        return afterCutReply(steps, steps.at(fault.step));
    case FaultClass::strayBytes:
        return afterStrayBytes(steps.at(fault.step));
    case FaultClass::lineNeverDrains:
        return afterStall(steps, steps.at(fault.step));
    case FaultClass::pageNotProgrammed: {
        const std::size_t start = (fault.step - 1) * kPageSize;
        const bool differs =
            !std::equal(installed.begin() + static_cast<std::ptrdiff_t>(start),
                        installed.begin() + static_cast<std::ptrdiff_t>(start + kPageSize),
                        image.begin() + static_cast<std::ptrdiff_t>(start));
        return differs ? failure(kVerifyMismatch)
                       : tolerated("the page already held the new content");
    }
    }
    return {};
}

} // namespace pelwick::testing
