#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace pelwick {

/// The streams a command talks through, and which of them are terminals: results go to `out`,
/// progress, questions and errors to `err`.
struct Console {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inputIsTerminal = false;
    bool errorIsTerminal = false;

    /// The process's standard streams, with the terminal flags from isatty().
    static Console standard();

    /// Flushes `out`; when something written to it could not be written, the sentence that says
    /// so ("Could not write to standard output: Broken pipe.").
    std::optional<std::string> outputFailure();
};

} // namespace pelwick
