#include "campaign/FaultRunner.h"

#include "campaign/CampaignCalculator.h"
#include "flash/FlashLayout.h"
#include "flasher/Flasher.h"
#include "support/FaultInjectingTransport.h"
#include "support/RecordingTransport.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

namespace pelwick::testing {

namespace {

// The simulator answers at once, so a short version wait costs nothing when it answers and keeps
// the faults that silence connect (two waits: the version, then its recovery) quick.
constexpr double kConnectTimeout = 0.25;
// Progress values of a verify that succeeded: 0.0, one per block, the final 1.0.
constexpr int kVerifyValuesOnSuccess = 1 + 28 + 1;
// Stray bytes ahead of a reply: not a whole word, and not text.
constexpr std::size_t kStrayBytes = 5;

// A cable's settle time, paced as asked; the pauses are not waited for.
Flasher flasherOn(std::shared_ptr<FaultInjectingTransport> link, TransferPace::Mode pace) {
    Flasher flasher{std::make_shared<SimulatedPortListing>(), true,
                    FaultInjectingTransport::lendingOpener(std::move(link)),
                    Flasher::cableSettleSeconds};
    flasher.fastTransfer = pace == TransferPace::Mode::fast;
    flasher.sleep = [](double) {};
    return flasher;
}

struct CommandCounts {
    std::size_t connect = 0;
    std::size_t backup = 0;
};

// Connect (refusing an unsupported chip, as every caller of connect does), back up, write every
// page and verify, on one connection that is closed on every outcome.
SequenceOutcome runSequence(const Flasher& flasher, const FirmwareImage& firmware,
                            const FaultInjectingTransport& link, bool takeBackup,
                            CommandCounts* counts = nullptr) {
    SequenceOutcome outcome;
    int verifyValues = 0;
    const FlashProgress progress = [&](double, FlashProgressPhase phase) {
        if (phase == FlashProgressPhase::verifying) {
            ++verifyValues;
        }
    };
    try {
        const ConnectedTarget target = flasher.connect(kConnectTimeout);
        struct Closer {
            const ConnectedTarget& target;
            ~Closer() { target.client->close(); }
        } closer{target};
        const std::size_t connected = link.commands().size();
        if (!target.identity.isSupported15C()) {
            throw FlasherError::unsupportedDevice(target.identity.name, target.identity.cidr,
                                                  target.identity.exid);
        }
        if (takeBackup) {
            outcome.backup = flasher.readApplication(target.client, progress);
        }
        if (counts) {
            *counts = {connected, link.commands().size() - connected};
        }
        flasher.write(firmware, FlashLayout::applicationStart, target.client, true, progress, {},
                      [&](const std::string&) { ++outcome.paceFallbacks; });
    } catch (const FlasherError& error) {
        outcome.error = error;
    } catch (const std::exception& error) {
        outcome.otherError = error.what();
    }
    outcome.completionHeard = verifyValues == kVerifyValuesOnSuccess;
    return outcome;
}

// The reply to every write of a recorded conversation, in write order.
std::vector<Bytes> repliesByWrite(const std::vector<RecordedChunk>& stream) {
    std::vector<Bytes> replies;
    for (const RecordedChunk& chunk : stream) {
        if (chunk.direction == RecordedChunk::Direction::sent) {
            replies.emplace_back();
        } else if (chunk.direction == RecordedChunk::Direction::received && !replies.empty()) {
            replies.back().insert(replies.back().end(), chunk.bytes.begin(), chunk.bytes.end());
        }
    }
    return replies;
}

// The reply bytes a wrong-byte fault inverts: all four of a word, else the first, middle and last.
std::vector<std::size_t> garbledBytes(const ConversationStep& step) {
    const std::size_t length = step.reply.size();
    if (length <= 4) {
        std::vector<std::size_t> all(length);
        for (std::size_t i = 0; i < length; ++i) {
            all[i] = i;
        }
        return all;
    }
    return {0, length / 2, length - 1};
}

int differingBytes(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) {
        return static_cast<int>(std::max(a.size(), b.size()));
    }
    int count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        count += a[i] != b[i] ? 1 : 0;
    }
    return count;
}

// A deterministic sample of the candidates: the first of every kind; unless `quick`, also the last
// of every kind, the first and last few, and every stride-th.
std::set<std::size_t> sampleOf(const std::vector<std::size_t>& candidates,
                               const std::vector<std::string>& kinds, bool quick) {
    std::set<std::size_t> chosen;
    const std::size_t count = candidates.size();
    const std::size_t edge = quick ? 0 : 6;
    const std::size_t stride = quick ? count + 1 : std::max<std::size_t>(1, count / 40);
    std::map<std::string, std::pair<std::size_t, std::size_t>> kindRange;
    for (std::size_t i = 0; i < count; ++i) {
        if (i < edge || i + edge >= count || (i > 0 && i % stride == 0)) {
            chosen.insert(i);
        }
        auto [entry, added] = kindRange.emplace(kinds[i], std::pair{i, i});
        if (!added) {
            entry->second.second = i;
        }
    }
    for (const auto& [kind, range] : kindRange) {
        chosen.insert(range.first);
        if (!quick) {
            chosen.insert(range.second);
        }
    }
    std::set<std::size_t> result;
    for (const std::size_t i : chosen) {
        result.insert(candidates[i]);
    }
    return result;
}

} // namespace

std::string SequenceOutcome::failureText() const {
    if (error) {
        return error->errorDescription();
    }
    return otherError;
}

FaultRunner::FaultRunner()
    : installed_(patternImage(101)),
      image_(patternImage(202)), firmware_{folder_.write("firmware.bin", image_), image_} {
    auto calculator = std::make_shared<CampaignCalculator>(installed_);
    auto recorder =
        std::make_shared<RecordingTransport>(std::shared_ptr<ByteTransport>(calculator));
    auto link = std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(recorder));
    CommandCounts counts;
    const SequenceOutcome clean =
        runSequence(flasherOn(link, TransferPace::Mode::standard), firmware_, *link, true, &counts);
    if (!clean.succeeded() || !clean.completionHeard || calculator->application() != image_ ||
        clean.backup != installed_) {
        throw std::runtime_error("the clean flash sequence failed: " + clean.failureText());
    }
    steps_ = labelConversation(link->commands(), repliesByWrite(recorder->stream()), counts.connect,
                               counts.backup);
    if (steps_.size() != static_cast<std::size_t>(link->writeCount())) {
        throw std::runtime_error("the clean conversation's writes could not be labelled");
    }
}

int FaultRunner::pageCount() const {
    return steps_.empty() ? 0
                          : std::max_element(steps_.begin(), steps_.end(), [](auto& a, auto& b) {
                                return a.page < b.page;
                            })->page;
}

std::vector<CampaignFault> FaultRunner::faults(FaultClass fault, Coverage coverage) const {
    const bool everyIndex = coverage == Coverage::every;
    std::vector<std::size_t> candidates;
    std::vector<std::string> kinds;
    if (fault == FaultClass::pageNotProgrammed) {
        for (int page = 1; page <= pageCount(); ++page) {
            candidates.push_back(static_cast<std::size_t>(page));
            kinds.push_back(page == 1 || page == pageCount() ? std::to_string(page) : "page");
        }
    } else {
        const bool replyFault = fault == FaultClass::replyCutShort ||
                                fault == FaultClass::wrongReplyByte ||
                                fault == FaultClass::replyLate || fault == FaultClass::strayBytes;
        for (std::size_t i = 0; i < steps_.size(); ++i) {
            if (!replyFault || !steps_[i].reply.empty()) {
                candidates.push_back(i);
                kinds.push_back(steps_[i].kind());
            }
        }
    }
    std::vector<std::size_t> chosen = candidates;
    if (!everyIndex) {
        const auto sample = sampleOf(candidates, kinds, coverage == Coverage::quick);
        chosen.assign(sample.begin(), sample.end());
    }
    std::vector<CampaignFault> faults;
    std::set<std::string> kindsSeen;
    for (const std::size_t step : chosen) {
        if (fault != FaultClass::wrongReplyByte) {
            faults.push_back({fault, step, 0});
            continue;
        }
        // Every garbled byte of every reply; a sample garbles them all only at the first step of
        // each kind, and one byte, in turn, elsewhere; a quick run one byte everywhere.
        const auto bytes = garbledBytes(steps_[step]);
        const bool firstOfKind = kindsSeen.insert(steps_[step].kind()).second;
        if (everyIndex || (coverage == Coverage::sampled && firstOfKind)) {
            for (const std::size_t byte : bytes) {
                faults.push_back({fault, step, byte});
            }
        } else {
            faults.push_back({fault, step, bytes[faults.size() % bytes.size()]});
        }
    }
    return faults;
}

FaultRunResult FaultRunner::run(const CampaignFault& fault, TransferPace::Mode pace) const {
    FaultRunResult result;
    result.fault = fault;
    result.pace = pace;
    result.expected = expectedOutcome(steps_, fault, installed_, image_);

    auto calculator = std::make_shared<CampaignCalculator>(installed_);
    auto link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    switch (fault.fault) {
    case FaultClass::cableGone:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::cableGone);
        break;
    case FaultClass::monitorSilent:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::monitorSilent);
        break;
    case FaultClass::replyCutShort:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::replyCutShort, 1);
        break;
    case FaultClass::wrongReplyByte:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::wrongReplyByte, fault.byte);
        break;
    case FaultClass::pageNotProgrammed:
        calculator->unprogrammedPage = static_cast<int>(fault.step);
        break;
    case FaultClass::replyLate:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::replyLate);
        break;
    case FaultClass::strayBytes:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::strayBytes, kStrayBytes);
        break;
    case FaultClass::lineNeverDrains:
        link->injectAtWrite(steps_.at(fault.step).write, Fault::lineStalls);
        break;
    }

    result.outcome = runSequence(flasherOn(link, pace), firmware_, *link, true);
    result.injected =
        fault.fault == FaultClass::pageNotProgrammed ? calculator->skippedPage : link->triggered();
    result.memoryMatches = calculator->application() == image_;
    if (result.outcome.backup) {
        result.backupWrongBytes = differingBytes(*result.outcome.backup, installed_);
    }

    // Afterwards the calculator behaves again; a fresh connection must flash it completely.
    calculator->unprogrammedPage = 0;
    auto fresh =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    const SequenceOutcome recovery = runSequence(flasherOn(fresh, pace), firmware_, *fresh, false);
    result.recovered =
        recovery.succeeded() && recovery.completionHeard && calculator->application() == image_;
    result.recoveryFailure = recovery.succeeded() ? std::string() : recovery.failureText();
    result.recoveryPaceFallbacks = recovery.paceFallbacks;

    result.bootloaderWrites = calculator->bootloaderStores + calculator->bootloaderAppletWrites +
                              bootloaderWriteCommands(link->commands()) +
                              bootloaderWriteCommands(fresh->commands());
    if (result.bootloaderWrites == 0 && calculator->bootloaderChanged()) {
        result.bootloaderWrites = 1;
    }
    result.bootloaderUnlocks = calculator->bootloaderUnlocks;
    return result;
}

} // namespace pelwick::testing
