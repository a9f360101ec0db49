#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelwick::testing {

/// How a pelwick-cli child is started.
struct CliRunOptions {
    /// The child's working folder (empty: the test's own).
    std::filesystem::path workingDirectory;
    /// Put standard input and standard error on a pseudo-terminal instead of a pipe and /dev/null;
    /// `input` is typed into it. `err` then holds everything the terminal showed.
    bool terminal = false;
    std::string input;
};

struct CliRun {
    int status = -1; ///< exit status, or 128 + signal
    std::string out;
    std::string err;
};

/// Runs the built pelwick-cli with `args` and waits for it (killed after 60 s).
CliRun runCli(const std::vector<std::string>& args, const CliRunOptions& options = {});

/// Each line of `text` with its runs of blanks squeezed to one, for comparing column output.
std::vector<std::string> squeezedLines(const std::string& text);

/// A pelwick-cli child left running (the simulate command, or a backup to interrupt), with its
/// standard output and error on pipes.
class BackgroundCli {
public:
    explicit BackgroundCli(const std::vector<std::string>& args);
    /// Kills and reaps the child if it still runs.
    ~BackgroundCli();

    BackgroundCli(const BackgroundCli&) = delete;
    BackgroundCli& operator=(const BackgroundCli&) = delete;

    /// The next line of standard output (without the newline); empty after `timeout` seconds.
    std::string readOutputLine(double timeout);
    /// The next line of standard error; empty after `timeout` seconds.
    std::string readErrorLine(double timeout);
    void signal(int number);
    /// Waits for the child (killed after 60 s) and returns its status as in CliRun; the rest of
    /// its output is collected.
    CliRun wait();

private:
    std::string readLine(int fd, std::string& buffer, double timeout);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
};

} // namespace pelwick::testing
