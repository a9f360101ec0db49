#include "support/ChildProcess.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelwick::testing {

std::optional<std::string> inChildProcess(const std::function<bool()>& prepare,
                                          const std::function<std::string()>& work) {
    int channel[2];
    if (::pipe(channel) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (!prepare()) {
            ::_exit(2);
        }
        const std::string report = work();
        [[maybe_unused]] const auto written = ::write(channel[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::optional(report) : std::nullopt;
}

std::optional<std::string> asNobody(const std::function<std::string()>& work,
                                    const std::vector<gid_t>& groups) {
    constexpr uid_t nobody = 65534;
    constexpr gid_t nogroup = 65534;
    return inChildProcess(
        [&] {
            return ::setgroups(groups.size(), groups.data()) == 0 && ::setgid(nogroup) == 0 &&
                   ::setuid(nobody) == 0;
        },
        work);
}

} // namespace pelwick::testing
