// The fault campaign: the single-calculator flash sequence (connect, back up, write every page,
// verify) against the simulated calculator, with one fault at each step of its conversation, at a
// cable's standard pace and fast. Whatever the fault: a success means the calculator holds the
// image and the backup what it held; a failure is a FlasherError; the bootloader is never written
// nor unlocked; a fresh connection then flashes and verifies.
//
// FAULT_CAMPAIGN_COVERAGE=every|sampled|quick picks the steps (default sampled: the first and last
// of every kind of step and a regular stride; quick: the first of every kind).

#include "device/FlasherError.h"
#include "flasher/Flasher.h"
#include "support/FaultInjectingTransport.h"
#include "support/ObservedCalculator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>

namespace pelwick {
namespace {

using testing::Fault;
using testing::FaultInjectingTransport;
using testing::ObservedCalculator;
using Pace = TransferPace::Mode;

// The simulator answers at once: a short connect wait costs nothing when it answers and keeps
// the faults that silence connect (two waits: the version, then its recovery) quick.
constexpr double kConnectTimeout = 0.25;

struct FaultClass {
    const char* name;
    std::optional<Fault> transportFault; // none: the applet acknowledges a page it did not program
    bool strikesReplies;                 // only at commands that are answered
    std::size_t amount;                  // bytes cut short or stray
    std::optional<FlasherError::Case> failsWith; // the line is gone for good: always this failure
};

const FaultClass kClasses[] = {
    {"CableGone", Fault::cableGone, false, 1, FlasherError::Case::serialPortClosed},
    {"MonitorSilent", Fault::monitorSilent, false, 1, FlasherError::Case::sambaTimeout},
    {"ReplyCutShort", Fault::replyCutShort, true, 1, std::nullopt},
    {"WrongReplyByte", Fault::wrongReplyByte, true, 0, std::nullopt},
    {"ReplyLate", Fault::replyLate, true, 1, std::nullopt},
    {"StrayBytes", Fault::strayBytes, true, 5, std::nullopt},
    {"LineNeverDrains", Fault::lineStalls, false, 1, FlasherError::Case::sambaTimeout},
    {"PageNotProgrammed", std::nullopt, false, 1, std::nullopt},
};

const char* const kPhases[] = {"connect", "backup", "write", "verify"};

// One transport write of the clean sequence: a command, or the payload after an "S".
// Step i is write i + 1.
struct Step {
    std::string command;
    bool payload = false;
    int phase = 0;

    bool answered() const {
        return !payload && std::string("wRVN").find(command.front()) != std::string::npos;
    }
    // Steps that do the same thing: phase, command letter, and the address a word command uses.
    std::string kind() const {
        const bool block = command.front() == 'R' || command.front() == 'S';
        return kPhases[phase] + command.substr(0, block ? 1 : command.find(',')) +
               (payload ? "+" : "");
    }
    // The reply bytes a wrong-byte fault inverts: the first, middle and last of a word or block.
    std::vector<std::size_t> replyBytes() const {
        const std::size_t length =
            command.front() == 'w' ? 4
            : command.front() == 'R'
                ? std::stoul(command.substr(command.find(',') + 1), nullptr, 16)
                : 1;
        return length == 1 ? std::vector<std::size_t>{0}
                           : std::vector<std::size_t>{0, length / 2, length - 1};
    }
    std::string describe() const {
        return std::string(kPhases[phase]) + (payload ? " payload of " : " ") + command;
    }
};

struct Outcome {
    std::optional<FlasherError> error;
    bool otherFailure = false;
    Bytes backup;
    int fallbacks = 0;
    std::size_t connected = 0, backedUp = 0, verifying = 0; // commands sent by then
    bool succeeded() const { return !error && !otherFailure; }
};

// Connects, backs up (when asked), writes and verifies on one connection, closed on every outcome.
// The pauses of the pace are not waited for: they change no command sent.
Outcome runSequence(const std::shared_ptr<FaultInjectingTransport>& link, Pace pace,
                    const FirmwareImage& firmware, bool backup) {
    Flasher flasher{std::make_shared<SimulatedPortListing>(), true,
                    FaultInjectingTransport::lendingOpener(link), Flasher::cableSettleSeconds};
    flasher.fastTransfer = pace == Pace::fast;
    flasher.sleep = [](double) {};
    Outcome o;
    std::shared_ptr<SambaClient> client;
    try {
        client = flasher.connect(kConnectTimeout).client;
        o.connected = link->commands().size();
        if (backup) {
            o.backup = flasher.readApplication(client);
        }
        o.backedUp = link->commands().size();
        const FlashProgress progress = [&](double fraction, FlashProgressPhase phase) {
            if (phase == FlashProgressPhase::verifying && fraction == 0) {
                o.verifying = link->commands().size();
            }
        };
        flasher.write(firmware, FlashLayout::applicationStart, client, true, progress, {},
                      [&](const std::string&) { ++o.fallbacks; });
    } catch (const FlasherError& error) {
        o.error = error;
    } catch (const std::exception&) {
        o.otherFailure = true;
    }
    if (client) {
        client->close();
    }
    return o;
}

// The clean sequence, run once: its conversation labelled by phase, and the flash offsets of its
// pages.
struct Conversation {
    testing::TempDir folder;
    Bytes installed = testing::patternImage(101);
    Bytes image = testing::patternImage(202);
    FirmwareImage firmware{folder.write("firmware.bin", image), image};
    std::vector<Step> steps;
    std::vector<std::uint32_t> pages;
    bool clean = false;

    Conversation() {
        auto calculator = std::make_shared<ObservedCalculator>(installed);
        auto link =
            std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
        const Outcome o = runSequence(link, Pace::standard, firmware, true);
        const auto& commands = link->commands();
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const int phase = (i >= o.connected) + (i >= o.backedUp) + (i >= o.verifying);
            steps.push_back({commands[i], false, phase});
            if (commands[i].front() == 'S') {
                steps.push_back({commands[i], true, phase});
            }
        }
        pages = calculator->writeOffsets;
        clean = o.succeeded() && o.backup == installed && calculator->application() == image &&
                steps.size() == static_cast<std::size_t>(link->writeCount()) && o.verifying > 0;
    }

    // Where a fault strikes (a step or page, and the reply byte a wrong byte inverts): everywhere,
    // or at the first and last of every kind and every stride-th, or at the first of every kind. A
    // wrong byte strikes every byte it may where its kind begins, elsewhere one in turn.
    std::vector<std::pair<std::size_t, std::size_t>> strikes(const FaultClass& fault,
                                                             const std::string& coverage) const {
        std::vector<std::pair<std::size_t, std::string>> candidates; // step or page, and its kind
        for (std::size_t i = 0; i < (fault.transportFault ? steps.size() : pages.size()); ++i) {
            if (!fault.transportFault) {
                candidates.emplace_back(i, "page");
            } else if (!fault.strikesReplies || steps[i].answered()) {
                candidates.emplace_back(i, steps[i].kind());
            }
        }
        std::map<std::string, std::pair<std::size_t, std::size_t>> range; // first and last
        for (std::size_t j = 0; j < candidates.size(); ++j) {
            range.try_emplace(candidates[j].second, j, j).first->second.second = j;
        }
        const std::size_t stride = std::max<std::size_t>(1, candidates.size() / 24);
        std::vector<std::pair<std::size_t, std::size_t>> chosen;
        for (std::size_t j = 0; j < candidates.size(); ++j) {
            const auto [first, last] = range[candidates[j].second];
            if (coverage != "every" && j != first &&
                (coverage == "quick" || (j != last && j % stride != 0))) {
                continue;
            }
            const std::size_t at = candidates[j].first;
            const auto bytes = fault.transportFault == Fault::wrongReplyByte
                                   ? steps[at].replyBytes()
                                   : std::vector<std::size_t>{fault.amount};
            const std::size_t inTurn = chosen.size() % bytes.size();
            for (std::size_t k = 0; k < bytes.size(); ++k) {
                if (coverage == "every" || j == first || k == inTurn) {
                    chosen.emplace_back(at, bytes[k]);
                }
            }
        }
        return chosen;
    }
};

class FaultCampaign : public ::testing::TestWithParam<std::tuple<std::size_t, Pace>> {};

TEST_P(FaultCampaign, NeverFalseSuccessNeverTheBootloaderAlwaysRecovery) {
    const FaultClass& fault = kClasses[std::get<0>(GetParam())];
    const Pace pace = std::get<1>(GetParam());
    static const Conversation c;
    ASSERT_TRUE(c.clean) << "the clean flash sequence failed or could not be labelled";
    const char* coverage = std::getenv("FAULT_CAMPAIGN_COVERAGE");
    int cases = 0, failed = 0, tolerated = 0, undetectable = 0, falseSuccesses = 0, harmed = 0,
        recovered = 0, fellBack = 0;
    for (const auto& [at, byte] : c.strikes(fault, coverage ? coverage : "sampled")) {
        SCOPED_TRACE(std::string(fault.name) + " at " +
                     (fault.transportFault
                          ? "step " + std::to_string(at + 1) + " (" + c.steps[at].describe() + ")"
                          : "page " + std::to_string(at + 1)) +
                     " byte " + std::to_string(byte));
        auto calculator = std::make_shared<ObservedCalculator>(c.installed);
        auto link =
            std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
        if (fault.transportFault) {
            link->injectAtWrite(static_cast<int>(at) + 1, *fault.transportFault, byte);
        } else {
            calculator->unprogrammedOffset = c.pages[at];
        }
        const Outcome o = runSequence(link, pace, c.firmware, true);
        EXPECT_TRUE(fault.transportFault ? link->triggered() : calculator->skippedPage)
            << "the fault never struck";
        EXPECT_FALSE(o.otherFailure) << "a failure that is no FlasherError";
        const bool memoryMatches = calculator->application() == c.image;
        const auto wrongInBackup =
            std::transform_reduce(o.backup.begin(), o.backup.end(), c.installed.begin(), 0,
                                  std::plus<>(), std::not_equal_to<>());
        // Block reads carry no checksum: one garbled byte of a backup read cannot be noticed.
        const bool garbledBackupRead = fault.transportFault == Fault::wrongReplyByte &&
                                       c.steps[at].phase == 1 && c.steps[at].command[0] == 'R';
        if (o.succeeded()) {
            const bool falseSuccess =
                !memoryMatches || fault.failsWith || wrongInBackup > (garbledBackupRead ? 1 : 0);
            EXPECT_FALSE(falseSuccess)
                << "success, but memory " << (memoryMatches ? "matches" : "differs")
                << ", backup wrong in " << wrongInBackup << " bytes";
            falseSuccesses += falseSuccess;
            undetectable += wrongInBackup > 0;
            tolerated += wrongInBackup == 0;
        } else if (o.error) {
            ++failed;
            if (fault.failsWith) {
                EXPECT_EQ(o.error->kind(), *fault.failsWith) << o.error->errorDescription();
            }
        }
        EXPECT_LE(o.fallbacks, pace == Pace::fast ? 1 : 0) << "fell back more than once";

        // The calculator behaves again: a fresh connection must flash it completely.
        calculator->unprogrammedOffset.reset();
        auto fresh =
            std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
        const Outcome again = runSequence(fresh, pace, c.firmware, false);
        const bool recoveredHere = again.succeeded() && calculator->application() == c.image;
        EXPECT_TRUE(recoveredHere)
            << "no recovery: "
            << (again.error ? again.error->errorDescription() : "memory differs");
        EXPECT_EQ(again.fallbacks, 0) << "the clean flash afterwards fell back";
        const bool harm = calculator->bootloaderTouched();
        EXPECT_FALSE(harm) << "the bootloader was touched";

        ++cases;
        harmed += harm;
        recovered += recoveredHere;
        fellBack += o.fallbacks > 0;
    }
    static bool headed = false;
    if (!std::exchange(headed, true)) {
        std::printf("FAULT-TABLE %-18s %-8s %6s %7s %10s %13s %15s %13s %10s %10s\n", "class",
                    "pace", "cases", "failed", "tolerated", "undetectable", "false success",
                    "bootloader", "recovered", "fell back");
    }
    std::printf("FAULT-TABLE %-18s %-8s %6d %7d %10d %13d %15d %13d %10d %10d\n", fault.name,
                pace == Pace::fast ? "fast" : "standard", cases, failed, tolerated, undetectable,
                falseSuccesses, harmed, recovered, fellBack);
}

INSTANTIATE_TEST_SUITE_P(Sweep, FaultCampaign,
                         ::testing::Combine(::testing::Range<std::size_t>(0, std::size(kClasses)),
                                            ::testing::Values(Pace::standard, Pace::fast)),
                         [](const auto& info) {
                             return std::string(kClasses[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) == Pace::fast ? "Fast" : "Standard");
                         });

} // namespace
} // namespace pelwick
