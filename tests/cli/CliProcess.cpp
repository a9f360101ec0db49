#include "CliProcess.h"

#include "support/TempDir.h"
#include "util/Clock.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace pelwick::testing {

namespace {

// The child's environment: ours, with XDG_DATA_HOME set to a folder of the test run (removed when
// it ends), a UTF-8 locale, and `extra` in place of the entries of the same names.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    static const TempDir dataHome;
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        entries.emplace_back(*entry);
    }
    // The texts are compared as they read under UTF-8, whatever the locale of the test run.
    std::vector<std::string> ours{"XDG_DATA_HOME=" + dataHome.path().string(), "LC_ALL=C.UTF-8"};
    ours.insert(ours.end(), extra.begin(), extra.end());
    for (const std::string& entry : ours) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(entries, [&](const std::string& old) { return old.starts_with(name); });
        entries.push_back(entry);
    }
    return entries;
}

// What execve() takes: the strings' characters, and a null pointer at the end.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const CliRunOptions& options) {
    int outPipe[2];
    int errPipe[2];
    int master = -1;
    int slave = -1;
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        (options.terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)) {
        throw std::runtime_error("pipe or openpty failed");
    }
    fds_[out] = outPipe[0];
    if (options.outputReaderGone) {
        ::close(std::exchange(fds_[out], -1));
    }
    // Everything the child needs is made before fork(): the test may run threads.
    std::vector<std::string> arguments{std::string(PELWICK_BIN_DIR) + "/pelwick-cli"};
    arguments.insert(arguments.end(), args.begin(), args.end());
    const std::vector<char*> argv = pointersTo(arguments);
    std::vector<std::string> environment = childEnvironment(options.environment);
    const std::vector<char*> envp = pointersTo(environment);

    pid_ = ::fork();
    if (pid_ == 0) {
        if (options.fileSizeLimit > 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::dup2(options.terminal ? slave : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(options.terminal ? slave : errPipe[1], STDERR_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    fds_[err] = errPipe[0];
    if (options.terminal) {
        ::close(slave);
        ::close(std::exchange(fds_[err], master));
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (const int fd : fds_) {
        ::close(fd);
    }
}

bool CliProcess::pump(double seconds, const auto& enough) {
    const auto deadline = deadlineAfter(seconds);
    while (!enough()) {
        const double left = secondsUntil(deadline);
        pollfd polls[2] = {{fds_[out], POLLIN, 0}, {fds_[err], POLLIN, 0}};
        if ((fds_[out] < 0 && fds_[err] < 0) || left <= 0) {
            return false;
        }
        // Nothing ready (or an interrupted poll) leaves every revents 0.
        ::poll(polls, 2, static_cast<int>(left * 1000) + 1);
        for (const Stream stream : {out, err}) {
            if (polls[stream].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::read(fds_[stream], chunk, sizeof chunk);
            if (n > 0) {
                buffers_[stream].append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The end (EOF, or EIO once a terminal's last user left).
                ::close(std::exchange(fds_[stream], -1));
            }
        }
    }
    return true;
}

std::string CliProcess::take(Stream stream, const std::string& text) {
    std::string& buffer = buffers_[stream];
    if (!pump(20, [&] { return buffer.find(text) != std::string::npos; })) {
        return {};
    }
    const std::size_t end = buffer.find(text) + text.size();
    std::string taken = buffer.substr(0, end);
    buffer.erase(0, end);
    return taken;
}

void CliProcess::type(const std::string& text) {
    (void)!::write(fds_[err], text.data(), text.size());
}

void CliProcess::signal(int number) {
    ::kill(pid_, number);
}

CliRun CliProcess::wait() {
    pump(60, [] { return false; });
    if (fds_[out] >= 0 || fds_[err] >= 0) {
        ::kill(pid_, SIGKILL);
    }
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
    run.out = std::exchange(buffers_[out], {});
    run.err = std::exchange(buffers_[err], {});
    return run;
}

CliRun runCli(const std::vector<std::string>& args, const CliRunOptions& options) {
    return CliProcess(args, options).wait();
}

} // namespace pelwick::testing
