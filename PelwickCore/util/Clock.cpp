#include "util/Clock.h"

#include <thread>

namespace pelwick {

MonotonicClock::time_point deadlineAfter(double seconds) {
    return MonotonicClock::now() + std::chrono::duration_cast<MonotonicClock::duration>(
                                       std::chrono::duration<double>(seconds > 0 ? seconds : 0.0));
}

double secondsUntil(MonotonicClock::time_point deadline) {
    return std::chrono::duration<double>(deadline - MonotonicClock::now()).count();
}

void sleepFor(double seconds) {
    if (seconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

} // namespace pelwick
