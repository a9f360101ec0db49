#pragma once

#include <stdexcept>
#include <string>

namespace pelwick {

/// A failure that the command line itself finds (a flash that was not confirmed, a file that is
/// already there, a path that is no serial port), with a `kind` that names it in --json output.
class CommandError : public std::runtime_error {
public:
    CommandError(std::string kind, const std::string& message)
        : std::runtime_error(message), kind_(std::move(kind)) {}

    const std::string& kind() const noexcept { return kind_; }

private:
    std::string kind_;
};

/// What went wrong, as --json reports it: a stable name for the kind of failure and the sentence
/// the user reads.
struct ErrorDescription {
    std::string kind;
    std::string message;
};

/// The exception being handled (call inside a catch block), described: a FlasherError by the
/// name of its case ("sambaTimeout", "noProgrammingCable"), a file-system failure as "file", a
/// CommandError by its kind, anything else as "failed".
ErrorDescription currentError();

} // namespace pelwick
