#pragma once

#include <filesystem>
#include <functional>
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
    /// "NAME=value" entries for the child's environment. XDG_DATA_HOME is a folder of the test run
    /// unless given here, so that no default backup lands in a real home folder, and LC_ALL is
    /// C.UTF-8.
    std::vector<std::string> environment;
    /// Standard output: a pipe the test reads, a pipe whose reader has gone, closed, or /dev/full.
    enum class Output { pipe, readerGone, closed, full } output = Output::pipe;

    /// Standard input and error on a terminal, into which `text` is typed.
    static CliRunOptions typing(std::string text);
    static CliRunOptions inFolder(std::filesystem::path folder);
    static CliRunOptions writingTo(Output output);
    CliRunOptions& withEnvironment(std::vector<std::string> entries);
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
/// standard output and error on pipes (standard error on the terminal with `options.terminal`).
class BackgroundCli {
public:
    explicit BackgroundCli(const std::vector<std::string>& args, const CliRunOptions& options = {});
    /// Kills and reaps the child if it still runs.
    ~BackgroundCli();

    BackgroundCli(const BackgroundCli&) = delete;
    BackgroundCli& operator=(const BackgroundCli&) = delete;

    /// The next line of standard output (without the newline); empty after `timeout` seconds.
    std::string readOutputLine(double timeout);
    /// The next line of standard error; empty after `timeout` seconds.
    std::string readErrorLine(double timeout);
    /// Whether standard error shows `text` within `timeout` seconds; what came up to its end is
    /// taken.
    bool waitForError(const std::string& text, double timeout);
    /// Types `text` into the terminal.
    void type(const std::string& text);
    /// The reader of standard output goes away.
    void closeOutput();
    void signal(int number);
    /// Waits for the child (killed after 60 s) and returns its status as in CliRun; the rest of
    /// its output is collected.
    CliRun wait();

private:
    bool fill(int fd, std::string& buffer, double timeout,
              const std::function<bool(const std::string&)>& enough);
    std::string readLine(int fd, std::string& buffer, double timeout);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int terminal_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
};

} // namespace pelwick::testing
