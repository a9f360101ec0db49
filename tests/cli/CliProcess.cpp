#include "CliProcess.h"

#include "support/TempDir.h"

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

extern char** environ;

namespace pelwick::testing {

namespace {

constexpr int guardSeconds = 60;

std::string cliPath() {
    return std::string(PELWICK_BIN_DIR) + "/pelwick-cli";
}

// Where the children keep default backups; removed when the test program ends.
const std::filesystem::path& testDataHome() {
    static const TempDir folder;
    return folder.path();
}

// The child's environment: ours, with XDG_DATA_HOME set to the test run's folder, a UTF-8 locale,
// and `extra` in place of the entries of the same names.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    auto put = [&](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(entries, [&](const std::string& old) { return old.starts_with(name); });
        entries.push_back(entry);
    };
    put("XDG_DATA_HOME=" + testDataHome().string());
    // The texts are compared as they read under UTF-8, whatever the locale of the test run.
    put("LC_ALL=C.UTF-8");
    for (const std::string& entry : extra) {
        put(entry);
    }
    return entries;
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

// A started child: its standard output (-1 unless a pipe the test reads), its standard error
// (the terminal's master side with a terminal) and the terminal (or -1).
struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    int terminal = -1;
};

Child spawn(const std::vector<std::string>& args, const CliRunOptions& options) {
    using Output = CliRunOptions::Output;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (options.output == Output::readerGone) {
        ::close(outPipe[0]);
        outPipe[0] = -1;
    }
    int master = -1;
    int slave = -1;
    if (options.terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    // Everything the child needs is made before fork(): the test may run threads.
    std::string program = cliPath();
    std::vector<char*> argv{program.data()};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = childEnvironment(options.environment);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        const int input = options.terminal ? slave : ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::dup2(options.terminal ? slave : errPipe[1], STDERR_FILENO);
        if (options.output == Output::closed) {
            ::close(STDOUT_FILENO);
        } else if (options.output == Output::full) {
            ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
        } else {
            ::dup2(outPipe[1], STDOUT_FILENO);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Child child{pid, options.output == Output::pipe ? outPipe[0] : -1, errPipe[0], -1};
    if (options.output == Output::closed || options.output == Output::full) {
        ::close(outPipe[0]);
    }
    if (options.terminal) {
        ::close(slave);
        ::close(errPipe[0]);
        child.err = master;
        child.terminal = master;
        if (!options.input.empty()) {
            (void)!::write(master, options.input.data(), options.input.size());
        }
    }
    return child;
}

} // namespace

CliRunOptions CliRunOptions::typing(std::string text) {
    CliRunOptions options;
    options.terminal = true;
    options.input = std::move(text);
    return options;
}

CliRunOptions CliRunOptions::inFolder(std::filesystem::path folder) {
    CliRunOptions options;
    options.workingDirectory = std::move(folder);
    return options;
}

CliRunOptions CliRunOptions::writingTo(Output output) {
    CliRunOptions options;
    options.output = output;
    return options;
}

CliRunOptions& CliRunOptions::withEnvironment(std::vector<std::string> entries) {
    environment = std::move(entries);
    return *this;
}

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
    const Child child = spawn(args, options);
    CliRun run;
    run.status = collect(child.pid, child.out, child.err, run.out, run.err);
    if (child.out >= 0) {
        ::close(child.out);
    }
    ::close(child.err);
    return run;
}

BackgroundCli::BackgroundCli(const std::vector<std::string>& args, const CliRunOptions& options) {
    const Child child = spawn(args, options);
    pid_ = child.pid;
    out_ = child.out;
    err_ = child.err;
    terminal_ = child.terminal;
}

BackgroundCli::~BackgroundCli() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    closeOutput();
    ::close(err_);
}

std::string BackgroundCli::readOutputLine(double timeout) {
    return readLine(out_, outBuffer_, timeout);
}

std::string BackgroundCli::readErrorLine(double timeout) {
    return readLine(err_, errBuffer_, timeout);
}

bool BackgroundCli::waitForError(const std::string& text, double timeout) {
    if (!fill(err_, errBuffer_, timeout,
              [&](const std::string& buffer) { return buffer.find(text) != std::string::npos; })) {
        return false;
    }
    errBuffer_.erase(0, errBuffer_.find(text) + text.size());
    return true;
}

void BackgroundCli::type(const std::string& text) {
    (void)!::write(terminal_, text.data(), text.size());
}

void BackgroundCli::closeOutput() {
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

std::string BackgroundCli::readLine(int fd, std::string& buffer, double timeout) {
    if (!fill(fd, buffer, timeout,
              [](const std::string& text) { return text.find('\n') != std::string::npos; })) {
        return {};
    }
    const auto newline = buffer.find('\n');
    std::string line = buffer.substr(0, newline);
    buffer.erase(0, newline + 1);
    return line;
}

bool BackgroundCli::fill(int fd, std::string& buffer, double timeout,
                         const std::function<bool(const std::string&)>& enough) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    for (;;) {
        if (enough(buffer)) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              giveUp - std::chrono::steady_clock::now())
                              .count();
        pollfd pending{fd, POLLIN, 0};
        if (fd < 0 || left <= 0 || ::poll(&pending, 1, static_cast<int>(left)) <= 0 ||
            !drainInto(fd, buffer)) {
            return false;
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
