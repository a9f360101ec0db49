#pragma once

#include "flasher/Flasher.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "util/Clock.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pelwick {

/// Handle of a delayed job on the main queue; 0 is never used for a real job.
using TimerId = std::uint64_t;

/// The main (user-interface) thread's job queue and its clock. The store's fields live on this
/// thread; device work hands its results back through `post`.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    /// Runs `job` on the main thread soon, after the jobs posted before it. Callable from any
    /// thread. A queue that is torn down drops the jobs it still holds (destroying them unrun).
    virtual void post(std::function<void()> job) = 0;
    /// Runs `job` on the main thread once `seconds` have passed on `now()`'s clock. Main thread
    /// only.
    virtual TimerId postDelayed(double seconds, std::function<void()> job) = 0;
    /// Drops a delayed job that has not run yet; unknown or finished ids are ignored. Main thread
    /// only.
    virtual void cancel(TimerId id) = 0;
    /// The queue's monotonic time (virtual in tests).
    virtual MonotonicClock::time_point now() const = 0;
    /// The calling thread is the main thread.
    virtual bool isMainThread() const = 0;
};

/// Runs device work off the main thread. Jobs never wait for the main thread; they report back
/// through `MainQueue::post`.
class BackgroundRunner {
public:
    virtual ~BackgroundRunner() = default;
    virtual void run(std::function<void()> job) = 0;
};

/// The per-user settings ("flasherMode", "demoModeCompleted", "batchFirmwarePath",
/// "fastTransfer").
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    /// The text under `key`; none when missing or not a text.
    virtual std::optional<std::string> string(const std::string& key) const = 0;
    /// The bool under `key`; none when missing or not a bool.
    virtual std::optional<bool> boolean(const std::string& key) const = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void remove(const std::string& key) = 0;
};

/// Modal file dialogs. Each call blocks the main thread until the user answers; none means
/// cancelled.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    /// Save dialog (any data, creating folders allowed) proposing `proposedName`.
    virtual std::optional<std::filesystem::path> saveFile(const std::string& title,
                                                          const std::string& proposedName) = 0;
    /// Open dialog for one file (any type; folders not selectable).
    virtual std::optional<std::filesystem::path> openFile(const std::string& title,
                                                          const std::string& message) = 0;
    /// Open dialog for one folder (files not selectable, creating folders allowed).
    virtual std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                              const std::string& message) = 0;
};

/// The application as a whole.
class AppControl {
public:
    virtual ~AppControl() = default;
    /// Asks the application to terminate.
    virtual void quit() = 0;
};

/// Everything the store reaches outside itself. The application fills it with its Qt
/// implementations, the tests with fakes.
struct StorePlatform {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<BackgroundRunner> background;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<AppControl> app;

    /// Wall clock for dates in file names (local time is applied when formatting).
    std::function<std::chrono::system_clock::time_point()> wallClock = [] {
        return std::chrono::system_clock::now();
    };

    /// A fresh DEMO calculator: 10 ms per block, application preloaded.
    std::function<std::shared_ptr<SimulatedCalculatorTransport>()> makeSimulator = [] {
        return std::make_shared<SimulatedCalculatorTransport>(0.01, true);
    };

    /// The DEMO facade over `simulator`. It has no applet settle: the tutorial runs at the
    /// simulator's own pace, whichever transfer pace is chosen.
    std::function<Flasher(std::shared_ptr<SimulatedCalculatorTransport>)> makeDemoFlasher =
        [](std::shared_ptr<SimulatedCalculatorTransport> simulator) {
            return Flasher::simulated(std::move(simulator));
        };

    /// The real-cable device facade: ports from "/dev", serial links, 10 ms applet settle.
    std::function<Flasher()> makeRealCableFlasher = [] { return Flasher::realCable("/dev"); };

    /// A real-cable factory listing ports in `deviceDirectory` instead of "/dev".
    static std::function<Flasher()> realCableIn(std::filesystem::path deviceDirectory) {
        return [deviceDirectory] { return Flasher::realCable(deviceDirectory); };
    }
};

} // namespace pelwick
