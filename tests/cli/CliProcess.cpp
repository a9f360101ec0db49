#include "CliProcess.h"

#include "support/TempDir.h"

#include <cerrno>
#include <chrono>
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

constexpr double guardSeconds = 60;

// The child's environment: ours, with XDG_DATA_HOME set to a folder of the test run (removed when
// it ends), a UTF-8 locale, and `extra` in place of the entries of the same names.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    static const TempDir dataHome;
    std::vector<std::string> entries(environ, environ + std::ranges::distance(environ, nullptr));
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
    using Output = CliRunOptions::Output;
    int outPipe[2];
    int errPipe[2];
    int master = -1;
    int slave = -1;
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        (options.terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)) {
        throw std::runtime_error("pipe or openpty failed");
    }
    out_ = outPipe[0];
    if (options.output != Output::pipe) {
        // Before the child starts: it never has a reader.
        closeOutput();
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
        if (options.output == Output::closed) {
            ::close(STDOUT_FILENO);
        } else {
            ::dup2(options.output == Output::full ? ::open("/dev/full", O_WRONLY) : outPipe[1],
                   STDOUT_FILENO);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    err_ = errPipe[0];
    if (options.terminal) {
        ::close(slave);
        ::close(err_);
        err_ = master;
        type(options.input);
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    closeOutput();
    ::close(err_);
}

bool CliProcess::pump(double timeout, const std::function<bool()>& enough) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (!enough()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              giveUp - std::chrono::steady_clock::now())
                              .count();
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if ((out_ < 0 && err_ < 0) || left <= 0) {
            return false;
        }
        if (::poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        int* fd[2] = {&out_, &err_};
        std::string* into[2] = {&outBuffer_, &errBuffer_};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::read(*fd[i], chunk, sizeof chunk);
            if (n > 0) {
                into[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The end (EOF, or EIO once a terminal's last user left).
                ::close(*fd[i]);
                *fd[i] = -1;
            }
        }
    }
    return true;
}

bool CliProcess::waitForError(const std::string& text, double timeout) {
    if (!pump(timeout, [&] { return errBuffer_.find(text) != std::string::npos; })) {
        return false;
    }
    errBuffer_.erase(0, errBuffer_.find(text) + text.size());
    return true;
}

std::string CliProcess::readOutputLine(double timeout) {
    if (!pump(timeout, [&] { return outBuffer_.find('\n') != std::string::npos; })) {
        return {};
    }
    const auto newline = outBuffer_.find('\n');
    std::string line = outBuffer_.substr(0, newline);
    outBuffer_.erase(0, newline + 1);
    return line;
}

void CliProcess::type(const std::string& text) {
    (void)!::write(err_, text.data(), text.size());
}

void CliProcess::closeOutput() {
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

void CliProcess::signal(int number) {
    ::kill(pid_, number);
}

CliRun CliProcess::wait() {
    pump(guardSeconds, [] { return false; });
    if (out_ >= 0 || err_ >= 0) {
        ::kill(pid_, SIGKILL);
    }
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
    run.out = std::exchange(outBuffer_, {});
    run.err = std::exchange(errBuffer_, {});
    return run;
}

CliRun runCli(const std::vector<std::string>& args, const CliRunOptions& options) {
    return CliProcess(args, options).wait();
}

} // namespace pelwick::testing
