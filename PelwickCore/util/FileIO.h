#pragma once

#include "util/Bytes.h"

#include <exception>
#include <filesystem>
#include <string>

namespace pelwick {

/// A file-system failure that remembers what was being done ("read", "write", "list"), so that the
/// user reads a plain sentence. It is still the platform's own `filesystem_error`.
class FileAccessError : public std::filesystem::filesystem_error {
public:
    FileAccessError(std::string verb, const std::filesystem::path& path, std::error_code code);

    const std::string& verb() const noexcept { return verb_; }

private:
    std::string verb_;
};

/// Reads a whole file. Fails with `FileAccessError` ("read").
Bytes readWholeFile(const std::filesystem::path& path);

/// Writes a whole file atomically: the bytes go to a temporary file in the same folder, which is
/// flushed to disk and then renamed over `path`. A failure leaves any earlier file of that name as
/// it was and no partial file behind. A replaced file keeps its permissions; a new one gets those
/// the umask allows. Fails with `FileAccessError` ("write").
void writeFileAtomically(const std::filesystem::path& path, ByteView bytes);

/// How many numbered names `writeNewFileAtomically` tries after `path` itself.
inline constexpr int maximumNumberedAlternatives = 999;

/// Writes a new file as atomically as `writeFileAtomically`, but never replaces anything: when
/// `path` exists, the first free name of "stem-2.ext", "stem-3.ext", … is taken instead. The name
/// is claimed in one step, so two processes writing into one folder never take the same name.
/// Returns the path written. Fails with `FileAccessError` ("write").
std::filesystem::path writeNewFileAtomically(const std::filesystem::path& path, ByteView bytes);

/// The sentence a user reads for a failure: a `FlasherError`'s description, "Could not write
/// /a/b.bin: Permission denied." for file-system errors, or the exception's own text otherwise.
std::string userMessage(const std::exception& error);

/// `userMessage` of the exception currently being handled (call inside a catch block).
std::string currentExceptionMessage();

} // namespace pelwick
