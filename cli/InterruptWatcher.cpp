#include "InterruptWatcher.h"

#include <ctime>
#include <pthread.h>

namespace pelwick {

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt) {
    sigemptyset(&endSignals_);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&endSignals_, number);
    }
    pthread_sigmask(SIG_BLOCK, &endSignals_, &previous_);
    watcher_ = std::thread([this, onInterrupt = std::move(onInterrupt)] {
        const timespec tick{0, 100'000'000};
        while (watching_) {
            if (sigtimedwait(&endSignals_, nullptr, &tick) > 0) {
                onInterrupt();
            }
        }
    });
}

InterruptWatcher::~InterruptWatcher() {
    watching_ = false;
    watcher_.join();
    // A signal that came after the work ended has nothing left to stop.
    const timespec now{0, 0};
    while (sigtimedwait(&endSignals_, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace pelwick
