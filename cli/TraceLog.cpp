#include "TraceLog.h"

#include "BuildInfo.h"
#include "util/Format.h"

#include <chrono>
#include <ctime>
#include <ostream>

namespace pelwick {

TraceLog::TraceLog(std::ostream& err, Clock clock)
    : err_(err), clock_(std::move(clock)), start_(clock_()) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "?";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", &local);
    }
    line({}, versionLine() + ", trace begun " + stamp);
}

void TraceLog::line(const std::string& source, const std::string& text) {
    const double seconds = std::chrono::duration<double>(clock_() - start_).count();
    const std::lock_guard lock(mutex_);
    err_ << formatString("[%11.6f] ", seconds) << (source.empty() ? "" : source + " ") << text
         << '\n'
         << std::flush;
}

SambaClient::Trace TraceLog::tracing(std::string source) {
    return [this, source = std::move(source)](const std::string& text) { line(source, text); };
}

} // namespace pelwick
