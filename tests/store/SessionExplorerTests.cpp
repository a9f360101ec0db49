// A seeded random explorer: it drives the store through random sequences of user actions and
// device events in virtual time and checks, after every step, the promises users rely on. A
// failure prints its seed and the shortest sequence that still fails.
//
//   PELWICK_EXPLORE_SEED=<first seed> PELWICK_EXPLORE_COUNT=<sequences>
//   out/build/bin/store_tests --gtest_filter='SessionExplorer.*'

#include "StoreHarness.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include <sys/stat.h>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* benchPort = "/dev/cu.usbmodem14101";
constexpr const char* demoPort = "/dev/cu.usbmodemDEMO";
constexpr int stepsPerSequence = 80;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int defaultSequences = 15;
#else
constexpr int defaultSequences = 100;
#endif

// Four bytes of each 512-byte page, enough to tell the images of these tests apart.
using PageMarks = std::vector<std::uint64_t>;
constexpr std::size_t pageCount = 0x1C000 / 512;
constexpr std::size_t markedOffsets[] = {0, 131, 262, 511};

template <typename ByteAt> PageMarks marksOf(ByteAt byteAt) {
    PageMarks marks(pageCount);
    for (std::size_t page = 0; page < pageCount; ++page) {
        for (std::size_t offset : markedOffsets) {
            marks[page] = marks[page] << 8 | byteAt(page * 512 + offset);
        }
    }
    return marks;
}

PageMarks marksOf(const Bytes& image) {
    return marksOf([&](std::size_t offset) { return image[offset]; });
}

PageMarks marksOf(const SimulatedCalculatorTransport& calculator) {
    const auto& memory = calculator.memory();
    return marksOf([&](std::size_t offset) -> std::uint8_t {
        const auto found = memory.find(static_cast<std::uint32_t>(0x4000 + offset));
        return found == memory.end() ? 0xFF : found->second;
    });
}

// The firmware files the user chooses from (the last one of the wrong size), and another image
// the first one may be rewritten with.
const std::vector<Bytes>& images() {
    static const std::vector<Bytes> images{patternImage(21), patternImage(22), Bytes(100, 1),
                                           patternImage(23)};
    return images;
}

// A file that is replaced (renamed over) or rewritten gets another identity; none when missing.
using FileIdentity = std::optional<std::tuple<ino_t, off_t, std::int64_t>>;

FileIdentity fileIdentity(const std::filesystem::path& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return std::tuple{status.st_ino, status.st_size,
                      std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// One store on a bench, and what the explorer knows it may expect of it.
struct World {
    World() {
        std::filesystem::create_directory(backups);
        std::filesystem::create_directory(saved);
        files = {folder.write("a.bin", images()[0]), folder.write("b.bin", images()[1]),
                 folder.write("short.bin", images()[2])};
        h.platform.background->setOneByOne(true);
        h.store->start();
        h.platform.settle();
        watch(bench->calculator);
    }

    FlasherStore& store() { return *h.store; }
    // Device work is running or its answers are on their way back.
    bool workUnderWay() { return store().wizard().isBusy || h.platform.queue->hasPosts(); }
    bool inWizard() {
        return !store().showWelcome() && !store().isBatchSession() && !store().isProbeSession();
    }
    bool inBatch(std::initializer_list<BatchPhase> phases) {
        return store().isBatchSession() &&
               std::find(phases.begin(), phases.end(), store().batchPhase()) != phases.end();
    }

    struct Watched {
        std::shared_ptr<SimulatedCalculatorTransport> calculator;
        std::vector<std::set<std::uint64_t>> allowed; // per page
    };

    // A new DEMO calculator is watched as well.
    void watchNewSimulator() {
        const auto simulator = store().simulator();
        if (simulator &&
            std::none_of(calculators.begin(), calculators.end(),
                         [&](const Watched& watched) { return watched.calculator == simulator; })) {
            watch(simulator);
        }
    }

    void watch(std::shared_ptr<SimulatedCalculatorTransport> calculator) {
        Watched watched{calculator, {}};
        for (std::uint64_t mark : marksOf(*calculator)) {
            watched.allowed.push_back({mark});
        }
        calculators.push_back(std::move(watched));
    }

    // The user left the session: from now on every calculator keeps what it holds.
    void sessionEnded() {
        quiet = shown();
        for (Watched& watched : calculators) {
            const PageMarks now = marksOf(*watched.calculator);
            for (std::size_t page = 0; page < now.size(); ++page) {
                watched.allowed[page] = {now[page]};
            }
        }
    }

    // What work shows: until the session starts work of its own, it may only be cleared.
    struct Shown {
        std::optional<std::string> success;
        std::optional<std::string> error;
        std::optional<double> progress;
        std::optional<std::string> page;
        bool busy = false;
    };
    Shown shown() {
        return {store().successMessage(), store().lastError(), store().progress(),
                store().flashPageHeader(), store().wizard().isBusy};
    }

    // The user confirmed writing the session's chosen image to the session's calculator.
    void confirmed() {
        quiet.reset();
        const auto device = store().usingSimulator() ? store().simulator() : bench->calculator;
        for (Watched& watched : calculators) {
            if (watched.calculator == device && chosen) {
                const PageMarks marks = marksOf(*chosen);
                for (std::size_t page = 0; page < marks.size(); ++page) {
                    watched.allowed[page].insert(marks[page]);
                }
            }
        }
    }

    // The bytes of the chosen firmware file as they were when chosen.
    void noteChoice() {
        chosen.reset();
        if (store().wizard().firmwareOK && store().firmwareURL()) {
            chosen = readWholeFile(*store().firmwareURL());
        }
    }

    StoreHarness h;
    std::shared_ptr<SimulatedBench> bench = h.bench;
    TempDir folder;
    std::filesystem::path backups = folder / "backups";
    std::filesystem::path saved = folder / "saved";
    std::vector<std::filesystem::path> files;
    std::optional<Bytes> chosen;
    std::vector<Watched> calculators;
    std::map<std::filesystem::path, FileIdentity> backupFiles;
    int savedCount = 0;
    bool stopped = false;
    std::optional<Shown> quiet; // none once the session's own work has started
};

struct Action {
    const char* name;
    bool byUser;
    int values; // the step's value runs from 0 to values - 1
    // How likely the action is picked now, relative to the others; 0 when it does not apply
    // (the screens do not offer it).
    int (*chance)(World&);
    void (*perform)(World&, int value);
};

// The sessions that write to the cable's calculator come up twice as often.
const FlasherMode modes[] = {FlasherMode::demo,  FlasherMode::flash, FlasherMode::batch,
                             FlasherMode::probe, FlasherMode::flash, FlasherMode::batch};

// User actions as the screens offer them, then device events. Walking on through a session is
// likely, leaving it while device work is under way too. A session-ending action tells the world
// at once, before anything of the new session runs.
const std::vector<Action> actions{
    {"continue", true, 1,
     [](World& w) { return w.inWizard() && w.store().wizard().canAdvance() ? 40 : 0; },
     [](World& w, int) {
         w.store().advance();
         if (w.store().wizard().step == WizardStep::backup) {
             w.quiet.reset(); // the calculator's firmware is read
         }
     }},
    {"back", true, 1,
     [](World& w) {
         return w.inWizard() && w.store().wizard().canGoBack() ? w.workUnderWay() ? 8 : 1 : 0;
     },
     [](World& w, int) {
         const bool toCable = w.store().wizard().step == WizardStep::programmingMode;
         w.store().goBack();
         if (toCable) {
             w.sessionEnded();
         }
     }},
    {"back to welcome", true, 1,
     [](World& w) { return w.store().showWelcome() ? 0
                           : w.workUnderWay()      ? 12
                                                   : 1; },
     [](World& w, int) {
         w.store().returnToWelcome();
         w.sessionEnded();
     }},
    {"simulator shortcut", true, 1, [](World& w) { return w.workUnderWay() ? 12 : 1; },
     [](World& w, int) {
         const bool before = w.store().usingSimulator();
         w.store().handleSimulatorShortcut();
         w.h.platform.queue->drain(); // the shortcut's own turn, and what it posts
         if (w.store().usingSimulator() != before) {
             w.sessionEnded();
         }
     }},
    {"begin", true, 6, [](World& w) { return w.store().showWelcome() ? 20 : 0; },
     [](World& w, int mode) {
         w.store().setSelectedMode(modes[mode]);
         w.store().beginChosenSession();
         w.sessionEnded();
         w.noteChoice(); // a batch offers the file of the last batch again
     }},
    {"choose file", true, 3,
     [](World& w) {
         const bool offered = (w.inWizard() && w.store().wizard().step == WizardStep::firmware) ||
                              w.inBatch({BatchPhase::setup});
         return offered && !w.store().wizard().isBusy ? 16 : 0;
     },
     [](World& w, int file) {
         w.h.platform.dialogs->openAnswers.push_back(w.files[file]);
         w.store().chooseFirmware();
         w.noteChoice();
         if (w.quiet) {
             w.quiet->error = w.store().lastError(); // the verdict on the file chosen
         }
     }},
    {"skip backup", true, 1,
     [](World& w) {
         const bool offered = w.inWizard() && w.store().wizard().step == WizardStep::backup;
         return offered && !w.store().wizard().isBusy ? 12 : 0;
     },
     [](World& w, int) { w.store().skipBackup(); }},
    {"save backup", true, 1,
     [](World& w) {
         const bool offered = w.inWizard() && w.store().wizard().step == WizardStep::backup;
         return offered && w.store().canSaveBackup() ? 6 : 0;
     },
     [](World& w, int) {
         w.h.platform.dialogs->saveAnswers.push_back(
             w.saved / ("backup-" + std::to_string(++w.savedCount) + ".bin"));
         w.quiet.reset();
         w.store().backup();
     }},
    {"flash", true, 1,
     [](World& w) {
         const bool offered = w.inWizard() && w.store().wizard().step == WizardStep::flash;
         return offered && w.store().canFlash() ? 40 : 0;
     },
     [](World& w, int) {
         w.confirmed();
         w.store().setConfirmFlash(true);
         w.store().flash();
     }},
    {"start batch", true, 2,
     [](World& w) {
         return w.inBatch({BatchPhase::setup}) && w.store().wizard().firmwareOK ? 20 : 0;
     },
     [](World& w, int autoSave) {
         w.store().setBatchBackupChoice(autoSave ? BatchBackupChoice::autoSave
                                                 : BatchBackupChoice::skip);
         if (autoSave && !w.store().batchBackupFolder()) {
             w.h.platform.dialogs->folderAnswers.push_back(w.backups);
             w.store().chooseBatchBackupFolder();
         }
         if (w.store().canStartBatch()) {
             w.confirmed();
             w.store().startBatch();
         }
     }},
    {"retry unit", true, 1, [](World& w) { return w.inBatch({BatchPhase::error}) ? 12 : 0; },
     [](World& w, int) { w.store().retryBatchUnit(); }},
    {"next unit", true, 1, [](World& w) { return w.inBatch({BatchPhase::unitDone}) ? 12 : 0; },
     [](World& w, int) { w.store().prepareNextBatchUnit(); }},
    {"stop batch", true, 1,
     [](World& w) {
         return w.inBatch({BatchPhase::waiting, BatchPhase::unitDone, BatchPhase::error}) ? 1 : 0;
     },
     [](World& w, int) {
         w.store().stopBatch();
         w.sessionEnded();
         w.stopped = true; // the application quits
     }},
    {"unplug", false, 1, [](World& w) { return w.bench->listing->listPorts().empty() ? 0 : 1; },
     [](World& w, int) { w.bench->listing->set({}); }},
    {"plug in", false, 1, [](World& w) { return w.bench->listing->listPorts().empty() ? 8 : 0; },
     [](World& w, int) { w.bench->listing->set({SerialPort{benchPort}}); }},
    {"silence open connections", false, 1,
     [](World& w) {
         const bool idle = w.store().client() && !w.store().wizard().isBusy;
         return idle || w.h.platform.background->heldCount() > 0 ? 6 : 1;
     },
     [](World& w, int) { w.bench->silenceOpenConnections(); }},
    {"monitor silent", false, 1, [](World& w) { return w.bench->allSilent ? 0 : 1; },
     [](World& w, int) { w.bench->allSilent = true; }},
    {"monitor answers", false, 1,
     [](World& w) { return w.bench->allSilent || w.bench->deadUpTo > 0 ? 8 : 0; },
     [](World& w, int) {
         w.bench->allSilent = false;
         w.bench->deadUpTo = 0;
     }},
    {"chip supported", false, 2, [](World&) { return 1; },
     [](World& w, int supported) { w.bench->makeUnsupported(supported == 0); }},
    {"rewrite a.bin", false, 2, [](World&) { return 1; },
     [](World& w, int original) { w.folder.write("a.bin", images()[original ? 0 : 3]); }},
    // Most likely just before the work that a connected calculator invites next.
    {"hold jobs", false, 3,
     [](World& w) { return w.store().client() && !w.store().wizard().isBusy ? 6 : 2; },
     [](World& w, int count) { w.h.platform.background->holdNextJobs(count + 1); }},
    {"release a held job", false, 3,
     [](World& w) { return static_cast<int>(w.h.platform.background->heldCount()) * 6; },
     [](World& w, int index) {
         auto& background = *w.h.platform.background;
         background.releaseHeld(static_cast<std::size_t>(index) % background.heldCount());
     }},
    {"wait", false, 4, [](World&) { return 20; },
     [](World& w, int value) {
         w.h.platform.advance(std::vector<double>{0.3, 1.0, 2.0, 3.0}[value]);
     }},
};

struct Step {
    std::size_t action;
    int value;
    // The main thread runs what is due before the next step; otherwise the answers of device
    // work are still on their way when the next step comes.
    bool settle;
};

std::string describe(const Step& step) {
    const Action& action = actions[step.action];
    return std::string(action.name) + (action.values > 1 ? " " + std::to_string(step.value) : "") +
           (step.settle ? "" : " (answers still on their way)");
}

bool isUnsupportedChipMessage(const std::optional<std::string>& text) {
    return text && text->starts_with("Unsupported chip");
}

// What the user relies on, after every step; the first broken promise, if any.
std::optional<std::string> brokenPromise(World& w, bool byUser,
                                         const std::optional<std::string>& errorBefore) {
    FlasherStore& store = w.store();
    for (std::size_t index = 0; index < w.calculators.size(); ++index) {
        const PageMarks now = marksOf(*w.calculators[index].calculator);
        for (std::size_t page = 0; page < now.size(); ++page) {
            if (!w.calculators[index].allowed[page].count(now[page])) {
                return (index == 0 ? std::string("the cable's calculator")
                                   : "simulator " + std::to_string(index)) +
                       " changed at page " + std::to_string(page) +
                       " without a flash confirmed in this session with its chosen image";
            }
        }
    }
    for (const auto& folder : {w.backups, w.saved}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".bin" && !w.backupFiles.count(entry.path())) {
                w.backupFiles[entry.path()] = fileIdentity(entry.path());
            }
        }
    }
    for (const auto& [path, identity] : w.backupFiles) {
        if (fileIdentity(path) != identity) {
            return "the backup " + path.filename().string() + " was replaced or removed";
        }
    }
    if (!byUser && errorBefore && !isUnsupportedChipMessage(errorBefore) && !store.lastError()) {
        return "the failure \"" + *errorBefore + "\" vanished without a user action";
    }
    const bool noPortExpected = store.showWelcome() || store.isProbeSession() ||
                                (w.inWizard() && store.wizard().step == WizardStep::cable) ||
                                w.inBatch({BatchPhase::setup, BatchPhase::unitDone});
    if (noPortExpected && store.client()) {
        return "a connection is held where none may be";
    }
    if (store.client() && store.usingSimulator() != (store.portPath() == demoPort)) {
        return store.usingSimulator() ? "DEMO holds a real connection"
                                      : "a real session holds the simulator's connection";
    }
    if ((store.isBatchSession() || store.isProbeSession()) && store.usingSimulator()) {
        return "a batch or probe session uses the simulator";
    }
    const int held = store.client() && store.portPath() == benchPort ? 1 : 0;
    if (w.h.platform.background->heldCount() == 0 && !w.h.platform.queue->hasPosts() &&
        w.bench->opens - w.bench->closes != held) {
        return std::to_string(w.bench->opens - w.bench->closes) +
               " connections to the cable's calculator are open, the store holds " +
               std::to_string(held);
    }
    if (store.showWelcome() && (store.wizard().isBusy || store.hasBatchUnitTask())) {
        return "the welcome screen is busy";
    }
    if (w.quiet) {
        const World::Shown now = w.shown();
        const auto keptOrCleared = [](const auto& before, const auto& after) {
            return !after || after == before;
        };
        if (!keptOrCleared(w.quiet->success, now.success) ||
            !(keptOrCleared(w.quiet->error, now.error) || isUnsupportedChipMessage(now.error)) ||
            !keptOrCleared(w.quiet->progress, now.progress) ||
            !keptOrCleared(w.quiet->page, now.page) || (now.busy && !w.quiet->busy)) {
            return std::string("work of an ended session showed its results in the next one");
        }
        w.quiet = now;
    }
    return std::nullopt;
}

struct Failure {
    std::size_t step; // steps.size() for the final check
    std::string what;
};

// Plays `steps`, or with `rng` makes up `length` steps as it goes (only actions that apply) and
// appends them to `steps`. Ends by releasing every held job and letting time run out.
std::optional<Failure> play(std::vector<Step>& steps, std::mt19937_64* rng = nullptr,
                            int length = 0) {
    World w;
    const std::size_t count = rng ? static_cast<std::size_t>(length) : steps.size();
    for (std::size_t index = 0; index < count && !w.stopped; ++index) {
        if (rng) {
            std::vector<int> chances;
            for (const Action& action : actions) {
                chances.push_back(action.chance(w));
            }
            const auto chosen = static_cast<std::size_t>(
                std::discrete_distribution<int>(chances.begin(), chances.end())(*rng));
            steps.push_back(
                {chosen, std::uniform_int_distribution<int>(0, actions[chosen].values - 1)(*rng),
                 std::bernoulli_distribution(0.75)(*rng)});
        }
        const Step& step = steps[index];
        const Action& action = actions[step.action];
        const auto errorBefore = w.store().lastError();
        if (action.chance(w) == 0) {
            continue; // a shortened sequence may leave a step without its reason
        }
        action.perform(w, step.value);
        if (step.settle) {
            w.h.platform.settle();
        }
        w.watchNewSimulator();
        if (auto broken = brokenPromise(w, action.byUser, errorBefore)) {
            return Failure{index, *broken};
        }
    }
    // Every wait has a limit: once nothing is held back, all work ends.
    w.h.platform.background->stopHolding();
    while (w.h.platform.background->releaseHeld()) {
        w.h.platform.settle();
    }
    w.h.platform.advance(10.0);
    if (auto broken = brokenPromise(w, true, std::nullopt)) {
        return Failure{steps.size(), *broken};
    }
    if (!w.stopped && (w.store().wizard().isBusy || w.store().hasBatchUnitTask())) {
        return Failure{steps.size(), "work never ended"};
    }
    return std::nullopt;
}

// The shortest sequence found that still breaks the same promise, and the plainest.
std::vector<Step> shrunk(std::vector<Step> steps, const Failure& failure) {
    steps.resize(std::min(steps.size(), failure.step + 1));
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (std::size_t chunk = std::max<std::size_t>(steps.size() / 2, 1); chunk >= 1;
             chunk /= 2) {
            for (std::size_t from = 0; from + chunk <= steps.size();) {
                std::vector<Step> tried = steps;
                tried.erase(tried.begin() + static_cast<std::ptrdiff_t>(from),
                            tried.begin() + static_cast<std::ptrdiff_t>(from + chunk));
                const auto again = play(tried);
                if (again && again->what == failure.what) {
                    steps = tried;
                    smaller = true;
                } else {
                    from += chunk;
                }
            }
            if (chunk == 1) {
                break;
            }
        }
    }
    // Answers left on their way only where it matters.
    for (Step& step : steps) {
        if (!step.settle) {
            step.settle = true;
            const auto again = play(steps);
            step.settle = !again || again->what != failure.what;
        }
    }
    return steps;
}

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

} // namespace

TEST(SessionExplorer, RandomSessionsKeepTheirPromises) {
    const std::uint64_t first = fromEnvironment("PELWICK_EXPLORE_SEED", 1);
    const std::uint64_t count = fromEnvironment("PELWICK_EXPLORE_COUNT", defaultSequences);
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        std::mt19937_64 rng(seed);
        std::vector<Step> steps;
        const auto failure = play(steps, &rng, stepsPerSequence);
        if (!failure) {
            continue;
        }
        const std::vector<Step> shortest = shrunk(steps, *failure);
        std::ostringstream report;
        report << "seed " << seed << ": " << failure->what << "\nshortest sequence ("
               << shortest.size() << " steps):";
        for (std::size_t index = 0; index < shortest.size(); ++index) {
            report << "\n  " << index + 1 << ". " << describe(shortest[index]);
        }
        report << "\nrepeat: PELWICK_EXPLORE_SEED=" << seed << " PELWICK_EXPLORE_COUNT=1";
        FAIL() << report.str();
    }
}
