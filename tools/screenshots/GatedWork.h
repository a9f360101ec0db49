#pragma once

#include "sim/SimulatedCalculatorTransport.h"
#include "store/Platform.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pelwick::screenshots {

/// Background work that can be stopped in the middle: jobs run on threads of their own, and a
/// gate lets one of them wait at a chosen device command until the caller has looked at the
/// screen. `waitQuiet` returns once every job has finished or waits at the gate.
class GatedWork : public BackgroundRunner {
public:
    ~GatedWork() override;

    void run(std::function<void()> job) override;

    /// Waits until every running job has finished or is held at the gate.
    void waitQuiet();
    /// Holds the job that writes the `count`-th command starting with `command` from now on.
    void armGate(char command, int count);
    /// Lets a held job go on (and disarms the gate).
    void releaseGate();
    bool gateHolds() const;

    /// Called by the simulator for every command it receives.
    void sawCommand(char command);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
    int active_ = 0;
    int held_ = 0;
    char gateCommand_ = 0;
    int gateRemaining_ = 0;
    // Moves on at every release; a held job waits for it to change.
    unsigned generation_ = 0;
};

/// A simulated calculator that reports its commands to a GatedWork, so a job can be held at one.
class GatedSimulator : public SimulatedCalculatorTransport {
public:
    GatedSimulator(std::shared_ptr<GatedWork> work)
        : SimulatedCalculatorTransport(0.0, true), work_(std::move(work)) {}

    void write(ByteView data) override;

private:
    std::shared_ptr<GatedWork> work_;
};

} // namespace pelwick::screenshots
