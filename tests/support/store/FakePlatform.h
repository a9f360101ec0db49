#pragma once

#include "sim/SimulatedCalculatorTransport.h"
#include "support/store/FakeBackgroundRunner.h"
#include "support/store/FakeMainQueue.h"
#include "support/store/MemorySettings.h"
#include "support/store/QuitRecorder.h"
#include "support/store/ScriptedDialogs.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace pelwick::testing {

/// All the fakes a store needs, and the two ways a test moves time: `settle` runs everything that
/// is due now (posted jobs and background jobs, until neither is left), `advance` moves the
/// virtual clock and runs the delayed jobs in order, settling after each.
struct FakePlatform {
    std::shared_ptr<FakeMainQueue> queue = std::make_shared<FakeMainQueue>();
    std::shared_ptr<FakeBackgroundRunner> background = std::make_shared<FakeBackgroundRunner>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<QuitRecorder> app = std::make_shared<QuitRecorder>();

    /// The pauses DEMO's flashes made (they cost no time).
    std::shared_ptr<std::atomic<int>> demoPauses = std::make_shared<std::atomic<int>>(0);

    /// The platform for a store: a DEMO simulator without delays and the given real cable.
    StorePlatform storePlatform(std::function<Flasher()> realCable = [] {
        return Flasher::realCable("/nonexistent-device-folder");
    }) {
        StorePlatform platform;
        platform.mainQueue = queue;
        platform.background = background;
        platform.settings = settings;
        platform.dialogs = dialogs;
        platform.app = app;
        // A fixed wall clock for file-name dates: 2026-01-05 14:32:09 UTC.
        platform.wallClock = [] {
            return std::chrono::system_clock::time_point(std::chrono::seconds(1767623529));
        };
        platform.makeSimulator = [] {
            return std::make_shared<SimulatedCalculatorTransport>(0.0, true);
        };
        platform.makeDemoFlasher = [defaultDemo = platform.makeDemoFlasher,
                                    pauses = demoPauses](auto simulator) {
            Flasher flasher = defaultDemo(std::move(simulator));
            // Paced as on a cable, so that the pauses a transfer pace takes can be counted.
            flasher.flashCommandSettleSeconds = Flasher::cableSettleSeconds;
            flasher.sleep = [pauses](double) { ++*pauses; };
            return flasher;
        };
        platform.makeRealCableFlasher = std::move(realCable);
        return platform;
    }

    void settle() {
        for (;;) {
            queue->drain();
            background->waitIdle();
            if (!queue->hasPosts()) {
                return;
            }
        }
    }

    void advance(double seconds) {
        queue->advance(seconds, [this] { settle(); });
    }

    ~FakePlatform() {
        background->waitIdle();
        // Jobs still waiting hold the queue they wait in (a reconnection pause the test did not
        // reach, a watchdog): they are dropped unrun, as the window's queue drops them at exit.
        queue->discardPending();
    }
};

} // namespace pelwick::testing
