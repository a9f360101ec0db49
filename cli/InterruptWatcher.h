#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

namespace pelwick {

/// Takes the ending signals (SIGINT, SIGTERM, SIGHUP) on a thread of its own instead of letting
/// them end the process, and calls `onInterrupt` there for each one, so that a command decides
/// what an interrupt may cut off. The signals are blocked in the constructing thread and so in
/// every thread it starts afterwards: make the watcher before any other thread. At the end a
/// signal still pending is dropped and the old mask comes back.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();

    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

private:
    sigset_t endSignals_{};
    sigset_t previous_{};
    std::atomic<bool> watching_{true};
    std::thread watcher_;
};

} // namespace pelwick
