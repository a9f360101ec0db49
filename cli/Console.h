#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace pelwick {

class JsonReport;
class TraceLog;

/// The streams a command talks through, which of them are terminals, and how much it says: results
/// go to `out`, progress, questions and errors to `err`.
struct Console {
    Console(std::istream& in, std::ostream& out, std::ostream& err, bool inputIsTerminal,
            bool errorIsTerminal)
        : in(in), out(out), err(err), inputIsTerminal(inputIsTerminal),
          errorIsTerminal(errorIsTerminal) {}

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inputIsTerminal;
    bool errorIsTerminal;

    /// --quiet: no progress and no notes; errors, questions and the result only.
    bool quiet = false;
    /// --json: the result is this report, written on `out` as one JSON document (a batch writes
    /// JSON Lines); none: the result is text.
    std::shared_ptr<JsonReport> report;
    /// -v: the trace of every conversation with a calculator; none: no trace.
    std::shared_ptr<TraceLog> trace;

    bool json() const { return report != nullptr; }
    /// The trace function for the device code (Flasher::trace): lines carry `source` when given;
    /// empty without -v.
    std::function<void(const std::string&)> deviceTrace(const std::string& source = {}) const;
    /// Where the lines go that tell what is happening but are not the result ("Connected to …"):
    /// `out` with text results, `err` with --json, nowhere with --quiet.
    std::ostream& notes();

    /// The process's standard streams, with the terminal flags from isatty().
    static Console standard();

    /// Flushes `out`; when something written to it could not be written, the sentence that says
    /// so ("Could not write to standard output: Broken pipe."), the first time it is asked.
    std::optional<std::string> takeOutputFailure();

private:
    std::ostream nowhere_{nullptr};
    bool outputFailureTaken_ = false;
};

} // namespace pelwick
