// A seeded random explorer: it drives the store through random sequences of user actions and
// device events in virtual time and checks, after every step, the promises users rely on. A
// failure prints its seed and a shortened sequence that still fails.
//
//   PELWICK_EXPLORE_SEED=<first seed> PELWICK_EXPLORE_COUNT=<sequences>
//   out/build/bin/store_tests --gtest_filter='SessionExplorer.*'

#include "StoreHarness.h"

#include "util/FileIO.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr int stepsPerSequence = 80;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int defaultSequences = 15;
#else
constexpr int defaultSequences = 100;
#endif

// One hash per 512-byte page of an application image.
std::vector<std::size_t> pagesOf(const Bytes& image) {
    std::vector<std::size_t> pages;
    for (std::size_t offset = 0; offset < image.size(); offset += 512) {
        pages.push_back(std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(image.data()) + offset, 512)));
    }
    return pages;
}

// The firmware files the user chooses from (the last one of the wrong size), and another image
// a.bin may be rewritten with.
const Bytes images[] = {patternImage(21), patternImage(22), Bytes(100, 1), patternImage(23)};

// One store on a bench, and what the explorer knows it may expect of it.
struct World {
    World() {
        std::filesystem::create_directory(backups);
        files = {h.folder.write("a.bin", images[0]), h.folder.write("b.bin", images[1]),
                 h.folder.write("short.bin", images[2])};
        h.platform.background->setOneByOne(true);
        h.store->start();
        h.platform.settle();
        watch(h.bench->calculator);
    }

    FlasherStore& store() { return *h.store; }
    // Device work is running or its answers are on their way back.
    bool workUnderWay() { return store().wizard().isBusy || h.platform.queue->hasPosts(); }
    bool inWizard() {
        return !store().showWelcome() && !store().isBatchSession() && !store().isProbeSession();
    }
    bool atStep(WizardStep step) { return inWizard() && store().wizard().step == step; }
    bool inBatch(std::initializer_list<BatchPhase> phases) {
        return store().isBatchSession() &&
               std::find(phases.begin(), phases.end(), store().batchPhase()) != phases.end();
    }

    // Each page of a calculator may hold what it held when the last session ended, or the page of
    // an image a flash of this session was confirmed with.
    void watch(const std::shared_ptr<SimulatedCalculatorTransport>& calculator) {
        if (calculator && !allowed.count(calculator)) {
            for (std::size_t page : pagesOf(applicationOf(*calculator))) {
                allowed[calculator].push_back({page});
            }
        }
    }

    // The user left the session: from now on every calculator keeps what it holds.
    void sessionEnded() {
        quiet = shown(store());
        for (auto& [calculator, pages] : allowed) {
            const auto now = pagesOf(applicationOf(*calculator));
            for (std::size_t page = 0; page < now.size(); ++page) {
                pages[page] = {now[page]};
            }
        }
    }

    // The user confirmed writing the chosen image to the session's calculator.
    void confirmed() {
        quiet.reset();
        const auto device = store().usingSimulator() ? store().simulator() : h.bench->calculator;
        if (chosen && allowed.count(device)) {
            const auto pages = pagesOf(*chosen);
            for (std::size_t page = 0; page < pages.size(); ++page) {
                allowed[device][page].insert(pages[page]);
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
    std::filesystem::path backups = h.folder / "backups";
    std::vector<std::filesystem::path> files;
    std::optional<Bytes> chosen;
    std::map<std::filesystem::path, Bytes> backupFiles; // as first seen
    std::map<std::shared_ptr<SimulatedCalculatorTransport>, std::vector<std::set<std::size_t>>>
        allowed;
    bool stopped = false;
    // What the session showed when the user left it: until the new session starts work of its
    // own, each may only be kept or cleared. None once the session's own work has started.
    std::optional<std::vector<std::string>> quiet;
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
         if (w.atStep(WizardStep::backup)) {
             w.quiet.reset(); // the calculator's firmware is read
         }
     }},
    // 0: Back where the screen offers it, 1: Back to welcome.
    {"back", true, 2,
     [](World& w) { return w.store().showWelcome() ? 0
                           : w.workUnderWay()      ? 16
                                                   : 2; },
     [](World& w, int toWelcome) {
         if (!toWelcome && w.inWizard() && w.store().wizard().canGoBack()) {
             const bool toCable = w.atStep(WizardStep::programmingMode);
             w.store().goBack();
             if (toCable) {
                 w.sessionEnded();
             }
             return;
         }
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
         const bool offered = w.atStep(WizardStep::firmware) || w.inBatch({BatchPhase::setup});
         return offered && !w.store().wizard().isBusy ? 16 : 0;
     },
     [](World& w, int file) {
         w.h.platform.dialogs->openAnswers.push_back(w.files[file]);
         w.store().chooseFirmware();
         w.noteChoice();
         if (w.quiet) {
             (*w.quiet)[1] = w.store().lastError().value_or(""); // the verdict on the file
         }
     }},
    {"skip backup", true, 1,
     [](World& w) { return w.atStep(WizardStep::backup) && !w.store().wizard().isBusy ? 12 : 0; },
     [](World& w, int) { w.store().skipBackup(); }},
    {"save backup", true, 1,
     [](World& w) { return w.atStep(WizardStep::backup) && w.store().canSaveBackup() ? 6 : 0; },
     [](World& w, int) {
         w.h.platform.dialogs->saveAnswers.push_back(
             w.backups / ("saved-" + std::to_string(w.backupFiles.size()) + ".bin"));
         w.quiet.reset();
         w.store().backup();
     }},
    {"flash", true, 1,
     [](World& w) { return w.atStep(WizardStep::flash) && w.store().canFlash() ? 40 : 0; },
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
    {"retry or next unit", true, 1,
     [](World& w) {
         return w.inBatch({BatchPhase::error, BatchPhase::unitDone}) ? 12 : 0;
     },
     [](World& w, int) {
         const bool failed = w.store().batchPhase() == BatchPhase::error;
         failed ? w.store().retryBatchUnit() : w.store().prepareNextBatchUnit();
     }},
    {"stop batch", true, 1,
     [](World& w) {
         return w.inBatch({BatchPhase::waiting, BatchPhase::unitDone, BatchPhase::error}) ? 1 : 0;
     },
     [](World& w, int) {
         w.store().stopBatch();
         w.sessionEnded();
         w.stopped = true; // the application quits
     }},
    {"unplug or plug in", false, 1,
     [](World& w) { return w.h.bench->listing->listPorts().empty() ? 8 : 1; },
     [](World& w, int) {
         const bool plugged = !w.h.bench->listing->listPorts().empty();
         w.h.bench->listing->set(plugged ? std::vector<SerialPort>{}
                                         : std::vector{SerialPort{"/dev/cu.usbmodem14101"}});
     }},
    // 0: the connections open now stop answering, 1: every connection does, 2: all answer.
    {"line", false, 3,
     [](World& w) {
         const bool idle = w.store().client() && !w.store().wizard().isBusy;
         return idle || w.h.platform.background->heldCount() > 0 ? 8 : 2;
     },
     [](World& w, int change) {
         w.h.bench->silenceOpenConnections();
         w.h.bench->deadUpTo = change == 2 ? 0 : w.h.bench->deadUpTo.load();
         w.h.bench->allSilent = change == 1;
     }},
    {"rewrite a.bin", false, 2, [](World&) { return 1; },
     [](World& w, int original) { w.h.folder.write("a.bin", images[original ? 0 : 3]); }},
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
         w.h.platform.advance(std::vector{0.3, 1.0, 2.0, 3.0}[value]);
     }},
};

struct Step {
    std::size_t action;
    int value;
    // The main thread runs what is due before the next step; otherwise the answers of device
    // work are still on their way when the next step comes.
    bool settle;
};

// What the user relies on, after every step; the first broken promise, if any.
std::optional<std::string> brokenPromise(World& w, bool byUser,
                                         const std::optional<std::string>& errorBefore) {
    FlasherStore& store = w.store();
    for (const auto& [calculator, pages] : w.allowed) {
        const auto now = pagesOf(applicationOf(*calculator));
        for (std::size_t page = 0; page < now.size(); ++page) {
            if (!pages[page].count(now[page])) {
                return "a calculator changed at page " + std::to_string(page) +
                       " without a flash confirmed in this session with its chosen image";
            }
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(w.backups)) {
        if (entry.path().extension() == ".bin") { // not a temporary file being written
            w.backupFiles.try_emplace(entry.path(), readWholeFile(entry.path()));
        }
    }
    for (const auto& [path, bytes] : w.backupFiles) {
        if (!std::filesystem::exists(path) || readWholeFile(path) != bytes) {
            return "the backup " + path.filename().string() + " was replaced or removed";
        }
    }
    if (!byUser && errorBefore && !store.lastError()) {
        return "the failure \"" + *errorBefore + "\" vanished without a user action";
    }
    if (store.client() && (store.showWelcome() || w.atStep(WizardStep::cable))) {
        return "a connection is held at the cable step or on the welcome screen";
    }
    if ((store.client() &&
         store.usingSimulator() != (store.portPath() == "/dev/cu.usbmodemDEMO")) ||
        (store.usingSimulator() && (store.isBatchSession() || store.isProbeSession()))) {
        return "a session holds the other device's connection";
    }
    if (w.quiet) {
        const auto now = shown(store);
        for (std::size_t index = 0; index < now.size(); ++index) {
            if (!now[index].empty() && now[index] != (*w.quiet)[index]) {
                return "work of an ended session showed its results in the next one";
            }
        }
        w.quiet = now;
    }
    return std::nullopt;
}

struct Failure {
    std::size_t step; // steps.size() for the final check
    std::string what;
};

// Plays `steps`, or with `rng` makes up `stepsPerSequence` steps as it goes (only actions that
// apply) and appends them to `steps`. Ends by releasing every held job and letting time run out.
std::optional<Failure> play(std::vector<Step>& steps, std::mt19937_64* rng = nullptr) {
    World w;
    const std::size_t count = rng ? stepsPerSequence : steps.size();
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
        w.watch(w.store().simulator()); // a new DEMO calculator
        if (auto broken = brokenPromise(w, action.byUser, errorBefore)) {
            return Failure{index, *broken};
        }
    }
    // Every wait has a limit: once nothing is held back, all work ends.
    w.h.platform.background->holdNextJobs(0);
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

// Leaves out, from the last step to the first, each step without which the same promise still
// breaks.
std::vector<Step> shortened(std::vector<Step> steps, const Failure& failure) {
    steps.resize(std::min(steps.size(), failure.step + 1));
    for (std::size_t index = steps.size(); index-- > 0;) {
        std::vector<Step> tried = steps;
        tried.erase(tried.begin() + static_cast<std::ptrdiff_t>(index));
        if (const auto again = play(tried); again && again->what == failure.what) {
            steps = tried;
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
        const auto failure = play(steps, &rng);
        if (!failure) {
            continue;
        }
        std::ostringstream report;
        report << "seed " << seed << ": " << failure->what << "\nshortened sequence:";
        for (const Step& step : shortened(steps, *failure)) {
            report << "\n  " << actions[step.action].name << " " << step.value
                   << (step.settle ? "" : " (answers still on their way)");
        }
        report << "\nrepeat: PELWICK_EXPLORE_SEED=" << seed << " PELWICK_EXPLORE_COUNT=1";
        FAIL() << report.str();
    }
}
