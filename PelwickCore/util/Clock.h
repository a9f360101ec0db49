#pragma once

#include <chrono>
#include <functional>

namespace pelwick {

/// Deadlines are measured on the monotonic clock, so that a change of the wall clock in the middle
/// of a flash neither cuts a wait short nor stretches it.
using MonotonicClock = std::chrono::steady_clock;

/// The instant `seconds` from now (negative or zero means now).
MonotonicClock::time_point deadlineAfter(double seconds);

/// Seconds from now until `deadline` (negative once it has passed).
double secondsUntil(MonotonicClock::time_point deadline);

/// Puts the calling thread to sleep. Device code takes one of these so that tests can record the
/// pauses instead of waiting for them.
using SleepFunction = std::function<void(double seconds)>;

/// Sleeps the calling thread for `seconds` (nothing for zero or less).
void sleepFor(double seconds);

} // namespace pelwick
