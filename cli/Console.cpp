#include "Console.h"

#include "TraceLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace pelwick {

std::ostream& Console::notes() {
    if (quiet) {
        return nowhere_;
    }
    return json() ? err : out;
}

std::function<void(const std::string&)> Console::deviceTrace(const std::string& source) const {
    if (!trace) {
        return {};
    }
    return trace->tracing(source);
}

Console Console::standard() {
    return Console{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1,
                   ::isatty(STDERR_FILENO) == 1};
}

std::optional<std::string> Console::takeOutputFailure() {
    errno = 0;
    out.flush();
    bool failed = !out.good();
    if (&out == &std::cout) {
        // The standard output's own buffer, and a failure the stream may not have seen.
        failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || failed;
    }
    int reason = errno;
    if (!failed || outputFailureTaken_) {
        return std::nullopt;
    }
    outputFailureTaken_ = true;
    if (reason == 0 && &out == &std::cout && ::write(STDOUT_FILENO, "\n", 1) < 0) {
        // The stream keeps no reason for a write that failed earlier; one more byte (into output
        // that is incomplete anyway) finds it out.
        reason = errno;
    }
    std::string text = "Could not write to standard output";
    if (reason != 0) {
        text += ": " + std::string(std::strerror(reason));
    }
    return text + ".";
}

} // namespace pelwick
