#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace pelwick {

/// The streams a command talks through, and which of them are terminals: results go to `out`,
/// progress, questions and errors to `err`.
struct Console {
    Console(std::istream& in, std::ostream& out, std::ostream& err, bool inputIsTerminal,
            bool errorIsTerminal)
        : in(in), out(out), err(err), inputIsTerminal(inputIsTerminal),
          errorIsTerminal(errorIsTerminal) {}

    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inputIsTerminal;
    bool errorIsTerminal;

    /// The process's standard streams, with the terminal flags from isatty().
    static Console standard();

    /// Flushes `out`; when something written to it could not be written, the sentence that says
    /// so ("Could not write to standard output: Broken pipe."), the first time it is asked.
    std::optional<std::string> takeOutputFailure();

private:
    bool outputFailureTaken_ = false;
};

} // namespace pelwick
