#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelwick::testing {

/// How a pelwick-cli child is started.
struct CliRunOptions {
    /// Standard input and standard error on a pseudo-terminal instead of /dev/null and a pipe;
    /// `err` then holds everything the terminal showed.
    bool terminal = false;
    /// "NAME=value" entries for the child's environment. XDG_DATA_HOME is a folder of the test run
    /// unless given here, so that no default backup lands in a real home folder, and LC_ALL is
    /// C.UTF-8.
    std::vector<std::string> environment{};
    /// Standard output is a pipe whose reader has gone before the child starts.
    bool outputReaderGone = false;
    /// The largest file the child may write (0: no limit); a longer write fails with EFBIG.
    std::size_t fileSizeLimit = 0;
};

struct CliRun {
    int status = -1; ///< exit status, or 128 + signal
    std::string out;
    std::string err;
};

/// A running pelwick-cli child.
class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args, const CliRunOptions& options = {});
    /// Kills and reaps the child if it still runs.
    ~CliProcess();

    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    /// Whether standard error shows `text` within 20 seconds; what came up to its end is taken.
    bool waitForError(const std::string& text) { return !take(err, text).empty(); }
    /// The next line of standard output (with its newline); empty after 20 seconds.
    std::string readOutputLine() { return take(out, "\n"); }
    /// Types `text` into the terminal.
    void type(const std::string& text);
    void signal(int number);
    /// Waits for the child (killed after 60 s) and returns its status and the output not taken.
    CliRun wait();

private:
    enum Stream { out, err };

    // What came on `stream` up to the end of `text`, once it came within 20 seconds; else empty.
    std::string take(Stream stream, const std::string& text);
    // Reads both streams until `enough` holds, both end or `seconds` pass.
    bool pump(double seconds, const auto& enough);

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    std::string buffers_[2];
};

/// Runs the built pelwick-cli with `args` and waits for it (killed after 60 s).
CliRun runCli(const std::vector<std::string>& args, const CliRunOptions& options = {});

} // namespace pelwick::testing
