#include "CliProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace pelwick::testing {

namespace {

constexpr int guardSeconds = 60;

std::string cliPath() {
    return std::string(PELWICK_BIN_DIR) + "/pelwick-cli";
}

[[noreturn]] void execCli(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string program = cliPath();
    argv.push_back(program.data());
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

int decodedStatus(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

// Reads what is there; false at end of stream (EOF, or EIO once a terminal's last user left).
bool drainInto(int fd, std::string& into) {
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// Collects both streams until they end or the guard runs out, then reaps the child.
int collect(pid_t pid, int out, int err, std::string& outText, std::string& errText) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(guardSeconds);
    bool outOpen = out >= 0;
    bool errOpen = err >= 0;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < giveUp) {
        pollfd fds[2] = {{outOpen ? out : -1, POLLIN, 0}, {errOpen ? err : -1, POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0) {
            continue;
        }
        if (outOpen && fds[0].revents != 0) {
            outOpen = drainInto(out, outText);
        }
        if (errOpen && fds[1].revents != 0) {
            errOpen = drainInto(err, errText);
        }
    }
    if (outOpen || errOpen) {
        ::kill(pid, SIGKILL);
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return decodedStatus(raw);
}

} // namespace

std::vector<std::string> squeezedLines(const std::string& text) {
    std::vector<std::string> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::string squeezed;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            squeezed += (squeezed.empty() ? "" : " ") + word;
        }
        rows.push_back(squeezed);
    }
    return rows;
}

CliRun runCli(const std::vector<std::string>& args, const CliRunOptions& options) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    int master = -1;
    int slave = -1;
    if (options.terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        const int input = options.terminal ? slave : ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(options.terminal ? slave : errPipe[1], STDERR_FILENO);
        execCli(args);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    CliRun run;
    int err = errPipe[0];
    if (options.terminal) {
        ::close(slave);
        ::close(errPipe[0]);
        err = master;
        if (!options.input.empty()) {
            (void)!::write(master, options.input.data(), options.input.size());
        }
    }
    run.status = collect(pid, outPipe[0], err, run.out, run.err);
    ::close(outPipe[0]);
    ::close(err);
    return run;
}

BackgroundCli::BackgroundCli(const std::vector<std::string>& args) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        execCli(args);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
}

BackgroundCli::~BackgroundCli() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
}

std::string BackgroundCli::readOutputLine(double timeout) {
    return readLine(out_, outBuffer_, timeout);
}

std::string BackgroundCli::readErrorLine(double timeout) {
    return readLine(err_, errBuffer_, timeout);
}

std::string BackgroundCli::readLine(int fd, std::string& buffer, double timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    for (;;) {
        const auto newline = buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              giveUp - std::chrono::steady_clock::now())
                              .count();
        pollfd pending{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pending, 1, static_cast<int>(left)) <= 0 ||
            !drainInto(fd, buffer)) {
            return {};
        }
    }
}

void BackgroundCli::signal(int number) {
    ::kill(pid_, number);
}

CliRun BackgroundCli::wait() {
    CliRun run;
    run.out = outBuffer_;
    run.err = errBuffer_;
    outBuffer_.clear();
    errBuffer_.clear();
    run.status = collect(pid_, out_, err_, run.out, run.err);
    pid_ = -1;
    return run;
}

} // namespace pelwick::testing
