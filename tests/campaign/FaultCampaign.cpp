// The fault campaign: the single-calculator flash sequence (connect, identify, back up, write every
// page, verify) against the simulated calculator, once per fault at every step of the
// conversation, or at a deterministic sample of the steps, at a cable's standard pace and fast.
// After each fault the failure must be reported with the sentence meant for that situation, the
// bootloader must be untouched and a fresh connection must flash and verify; a fast write must
// fall back to the standard pace, once, exactly when the calculator did not keep up. Prints a
// table; exits non-zero on any violation.
//
//   fault_campaign [--all | --quick] [--class NAME] [--pace standard|fast|both] [--jobs N]

#include "campaign/FaultRunner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace pelwick::testing {
namespace {

struct Options {
    FaultRunner::Coverage coverage = FaultRunner::Coverage::sampled;
    std::vector<FaultClass> classes{allFaultClasses.begin(), allFaultClasses.end()};
    std::vector<TransferPace::Mode> paces{TransferPace::Mode::standard, TransferPace::Mode::fast};
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
};

struct Tally {
    int injected = 0;
    int reported = 0;
    int rightText = 0;
    int tolerated = 0;
    int undetectable = 0;
    int falseSuccesses = 0;
    int bootloaderWrites = 0;
    int bootloaderUnlocks = 0;
    int recoveries = 0;
    int fellBack = 0;

    void add(const Tally& other) {
        injected += other.injected;
        reported += other.reported;
        rightText += other.rightText;
        tolerated += other.tolerated;
        undetectable += other.undetectable;
        falseSuccesses += other.falseSuccesses;
        bootloaderWrites += other.bootloaderWrites;
        bootloaderUnlocks += other.bootloaderUnlocks;
        recoveries += other.recoveries;
        fellBack += other.fellBack;
    }
};

const char* paceName(TransferPace::Mode pace) {
    return pace == TransferPace::Mode::fast ? "fast" : "standard";
}

const char* coverageName(FaultRunner::Coverage coverage) {
    switch (coverage) {
    case FaultRunner::Coverage::every:
        return "every index";
    case FaultRunner::Coverage::sampled:
        return "sampled indices";
    case FaultRunner::Coverage::quick:
        return "the first index of every kind";
    }
    return "?";
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--all | --quick] [--class NAME] [--pace standard|fast|both] "
                 "[--jobs N]\n"
                 "  --all         every step of the conversation (default: a sample)\n"
                 "  --quick       only the first step of every kind (for sanitizer builds)\n"
                 "  --class NAME  one class: cable-gone, monitor-silent, reply-cut-short,\n"
                 "                wrong-reply-byte, page-not-programmed, reply-late,\n"
                 "                stray-bytes, line-never-drains\n"
                 "  --pace PACE   the cable's standard pace, fast, or both (default)\n"
                 "  --jobs N      runs at once (default: the number of processors)\n",
                 program);
    return 2;
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--all") {
            options.coverage = FaultRunner::Coverage::every;
        } else if (argument == "--quick") {
            options.coverage = FaultRunner::Coverage::quick;
        } else if (argument == "--class" && hasValue) {
            const auto fault = faultClassNamed(argv[++i]);
            if (!fault) {
                std::fprintf(stderr, "unknown fault class: %s\n", argv[i]);
                return std::nullopt;
            }
            options.classes = {*fault};
        } else if (argument == "--pace" && hasValue) {
            const std::string pace = argv[++i];
            if (pace == "standard") {
                options.paces = {TransferPace::Mode::standard};
            } else if (pace == "fast") {
                options.paces = {TransferPace::Mode::fast};
            } else if (pace != "both") {
                std::fprintf(stderr, "unknown pace: %s\n", pace.c_str());
                return std::nullopt;
            }
        } else if (argument == "--jobs" && hasValue) {
            options.jobs = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        } else {
            return std::nullopt;
        }
    }
    return options;
}

// Runs every fault, several at a time; results keep the order of `faults`.
std::vector<FaultRunResult> runAll(const FaultRunner& runner,
                                   const std::vector<CampaignFault>& faults,
                                   TransferPace::Mode pace, unsigned jobs) {
    std::vector<FaultRunResult> results(faults.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < faults.size(); i = next++) {
            results[i] = runner.run(faults[i], pace);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned j = 1; j < std::min<std::size_t>(jobs, faults.size()); ++j) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return results;
}

// A fast write falls back once at most, and on a sequence that succeeded exactly when the fault
// showed that the calculator did not keep up; a clean write and the standard pace never do.
void scorePace(const FaultRunResult& r, Tally& t, std::vector<std::string>& problems) {
    const int fallbacks = r.outcome.paceFallbacks;
    t.fellBack = fallbacks > 0 ? 1 : 0;
    if (r.pace == TransferPace::Mode::standard || fallbacks > 1) {
        if (fallbacks > 0) {
            problems.push_back("said " + std::to_string(fallbacks) + " times that it fell back");
        }
    } else if (r.outcome.succeeded() && (fallbacks > 0) != r.expected.slowsDown) {
        problems.push_back(fallbacks > 0 ? "fell back although the calculator kept up"
                                         : "stayed fast although the calculator did not keep up");
    }
    if (r.recoveryPaceFallbacks > 0) {
        problems.push_back("the clean flash afterwards fell back");
    }
}

// Scores one result and names what is wrong with it, if anything.
Tally score(const FaultRunResult& r, std::vector<std::string>& problems) {
    using Kind = ExpectedOutcome::Kind;
    Tally t;
    if (!r.injected) {
        problems.push_back("the fault never struck");
        return t;
    }
    t.injected = 1;
    const SequenceOutcome& o = r.outcome;
    const bool failed = !o.succeeded();
    const std::string actual = failed ? o.failureText() : "success";
    if (failed) {
        t.reported = 1;
        if (r.expected.kind == Kind::failure && actual == r.expected.text) {
            t.rightText = 1;
        } else {
            problems.push_back("reported \"" + actual + "\", expected " +
                               (r.expected.kind == Kind::failure
                                    ? "\"" + r.expected.text + "\""
                                    : "success (" + r.expected.reason + ")"));
        }
    } else {
        const bool backupRight = r.expected.kind == Kind::undetectable ? r.backupWrongBytes == 1
                                                                       : r.backupWrongBytes == 0;
        if (r.expected.kind == Kind::failure || !r.memoryMatches || !backupRight) {
            t.falseSuccesses = 1;
            problems.push_back("false success: expected " +
                               (r.expected.kind == Kind::failure ? "\"" + r.expected.text + "\""
                                                                 : r.expected.reason) +
                               "; memory " + (r.memoryMatches ? "matches" : "differs") +
                               ", backup wrong in " + std::to_string(r.backupWrongBytes) +
                               " bytes");
        } else if (r.expected.kind == Kind::undetectable) {
            t.undetectable = 1;
        } else {
            t.tolerated = 1;
        }
    }
    if (failed == o.completionHeard) {
        problems.push_back(failed ? "a failed sequence reported the final verify progress"
                                  : "a successful sequence never reported the final progress");
    }
    t.bootloaderWrites = r.bootloaderWrites;
    t.bootloaderUnlocks = r.bootloaderUnlocks;
    if (r.bootloaderWrites > 0) {
        problems.push_back(std::to_string(r.bootloaderWrites) + " bootloader writes");
    }
    if (r.bootloaderUnlocks > 0) {
        problems.push_back(std::to_string(r.bootloaderUnlocks) + " bootloader unlocks");
    }
    if (r.recovered) {
        t.recoveries = 1;
    } else {
        problems.push_back("no recovery: " + (r.recoveryFailure.empty()
                                                  ? std::string("memory differs from the image")
                                                  : r.recoveryFailure));
    }
    scorePace(r, t, problems);
    return t;
}

std::string where(const FaultRunner& runner, const CampaignFault& fault) {
    if (fault.fault == FaultClass::pageNotProgrammed) {
        return "page " + std::to_string(fault.step);
    }
    const ConversationStep& step = runner.steps()[fault.step];
    std::string text = "write " + std::to_string(step.write) + " (" + step.describe() + ")";
    if (fault.fault == FaultClass::wrongReplyByte) {
        text += " byte " + std::to_string(fault.byte);
    }
    return text;
}

void printRow(const std::string& name, const std::string& pace, const Tally& t) {
    std::printf("%-20s %-8s %8d %9d %10d %9d %12d %15d %17d %17d %10d %9d\n", name.c_str(),
                pace.c_str(), t.injected, t.reported, t.rightText, t.tolerated, t.undetectable,
                t.falseSuccesses, t.bootloaderWrites, t.bootloaderUnlocks, t.recoveries,
                t.fellBack);
}

int runCampaign(const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    const FaultRunner runner;
    int commands = 0;
    for (const ConversationStep& step : runner.steps()) {
        commands += step.role == StepRole::payload ? 0 : 1;
    }
    std::printf("Fault campaign (%s): a clean flash sequence is %zu writes, %d commands, %d "
                "pages\n\n",
                coverageName(options.coverage), runner.steps().size(), commands,
                runner.pageCount());
    std::printf("%-20s %-8s %8s %9s %10s %9s %12s %15s %17s %17s %10s %9s\n", "class", "pace",
                "injected", "reported", "right text", "tolerated", "undetectable",
                "false successes", "bootloader writes", "bootloader unlocks", "recoveries",
                "fell back");

    std::map<TransferPace::Mode, Tally> totals;
    std::vector<std::string> violations;
    std::map<std::string, int> undetectable;
    for (const FaultClass fault : options.classes) {
        const auto faults = runner.faults(fault, options.coverage);
        for (const TransferPace::Mode pace : options.paces) {
            const auto results = runAll(runner, faults, pace, options.jobs);
            Tally classTally;
            for (const FaultRunResult& result : results) {
                std::vector<std::string> problems;
                classTally.add(score(result, problems));
                for (const std::string& problem : problems) {
                    violations.push_back(faultClassName(fault) + " at " +
                                         where(runner, result.fault) + ", " + paceName(pace) +
                                         ": " + problem);
                }
                if (result.expected.kind == ExpectedOutcome::Kind::undetectable &&
                    pace == options.paces.front()) {
                    ++undetectable[faultClassName(fault) + ": " + result.expected.reason];
                }
            }
            printRow(faultClassName(fault), paceName(pace), classTally);
            totals[pace].add(classTally);
        }
    }
    for (const TransferPace::Mode pace : options.paces) {
        printRow("total", paceName(pace), totals[pace]);
    }

    if (!undetectable.empty()) {
        std::printf("\nUndetectable by the protocol (the sequence succeeds; the backup holds the "
                    "wrong byte):\n");
        for (const auto& [what, count] : undetectable) {
            std::printf("  %d x %s\n", count, what.c_str());
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("\n%zu violations; %.1f s\n", violations.size(), seconds);
    const std::size_t shown = std::min<std::size_t>(violations.size(), 40);
    for (std::size_t i = 0; i < shown; ++i) {
        std::printf("  %s\n", violations[i].c_str());
    }
    if (shown < violations.size()) {
        std::printf("  … and %zu more\n", violations.size() - shown);
    }
    return violations.empty() ? 0 : 1;
}

} // namespace
} // namespace pelwick::testing

int main(int argc, char** argv) {
    const auto options = pelwick::testing::parse(argc, argv);
    if (!options) {
        return pelwick::testing::usage(argv[0]);
    }
    try {
        return pelwick::testing::runCampaign(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fault campaign: %s\n", error.what());
        return 1;
    }
}
