#pragma once

#include "samba/SambaClient.h"
#include "util/Clock.h"

#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

namespace pelwick {

/// The -v trace on standard error: one line per port opened, command sent, data block, reply,
/// pause, time-out and input dropped, each stamped with the seconds since the trace began
/// ("[   0.012345] send V#"). Lines of several threads (a parallel batch) never mix.
class TraceLog {
public:
    using Clock = std::function<MonotonicClock::time_point()>;

    /// Begins with a line naming the program and the local time the trace began.
    explicit TraceLog(std::ostream& err, Clock clock = MonotonicClock::now);

    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    /// Writes one line; `source` (a batch unit, "#3"), when given, comes before the text.
    void line(const std::string& source, const std::string& text);
    /// A trace function for the device code whose lines carry `source`. The log must outlive it.
    SambaClient::Trace tracing(std::string source = {});

private:
    std::ostream& err_;
    Clock clock_;
    MonotonicClock::time_point start_;
    std::mutex mutex_;
};

} // namespace pelwick
