#pragma once

#include "CommandError.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

namespace pelwick {

/// What a command reports with --json, gathered as it goes and written as one JSON document, on
/// one line, when it ends: {"command": …, "ok": …, the facts in the order they were set, "error":
/// null or
/// {"kind": …, "message": …}}. A failure keeps the facts gathered until then, so that a script
/// still learns, say, where the backup of a flash that failed later was saved. Safe from any
/// thread (an interrupt writes it from the watcher's); written at most once.
class JsonReport {
public:
    using Json = nlohmann::ordered_json;

    /// `command` is null for a command line that named none.
    explicit JsonReport(Json command);

    void set(const std::string& key, Json value);
    /// The command's own failure, for a command that ends with status 1 without throwing.
    void setError(ErrorDescription error);
    /// Writes the document and flushes, unless it was written before. It says "ok" when neither
    /// `error` is given nor one was set.
    void write(std::ostream& out, const std::optional<ErrorDescription>& error = std::nullopt);

    /// {"kind": …, "message": …}.
    static Json describe(const ErrorDescription& error);
    /// `value` as one line of JSON text in ASCII (other characters as \u escapes, invalid UTF-8
    /// replaced), so that it reads the same under any locale.
    static std::string text(const Json& value);

private:
    std::mutex mutex_;
    Json document_;
    std::optional<ErrorDescription> error_;
    bool written_ = false;
};

} // namespace pelwick
