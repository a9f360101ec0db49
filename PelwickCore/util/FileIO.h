#pragma once

#include "util/Bytes.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <limits>
#include <string>

namespace pelwick {

/// A file-system failure that remembers what was being done ("read", "write", "list"), so that the
/// user reads a plain sentence. It is still the platform's own `filesystem_error`. `reason`, when
/// given, replaces the system's words for `code` ("it is a named pipe, not a regular file").
class FileAccessError : public std::filesystem::filesystem_error {
public:
    FileAccessError(std::string verb, const std::filesystem::path& path, std::error_code code,
                    std::string reason = {});

    const std::string& verb() const noexcept { return verb_; }
    const std::string& reason() const noexcept { return reason_; }

private:
    std::string verb_;
    std::string reason_;
};

/// Reads a regular file, at most `maximumBytes` + 1 bytes of it, so that a caller with a size limit
/// sees that a file is too large without reading it all. Anything but a regular file (a folder, a
/// named pipe, a device, a socket) is refused with a reason that says what it is, without waiting
/// on it. Fails with `FileAccessError` ("read").
Bytes readRegularFile(const std::filesystem::path& path, std::size_t maximumBytes);

/// Reads a whole regular file, as `readRegularFile` does.
inline Bytes readWholeFile(const std::filesystem::path& path) {
    return readRegularFile(path, std::numeric_limits<std::size_t>::max() - 1);
}

/// Writes a whole file atomically: the bytes go to a temporary file in the same folder, which is
/// flushed to disk and then renamed over `path`. A failure leaves any earlier file of that name as
/// it was and no partial file behind. A symbolic link is written through: the file it leads to is
/// replaced and the link stays. Anything at `path` that is not a regular file (a folder, a device,
/// a named pipe) is refused. A replaced file keeps its permissions and, where the system allows,
/// its owner; a new one gets the permissions the umask allows. Fails with `FileAccessError`
/// ("write").
void writeFileAtomically(const std::filesystem::path& path, ByteView bytes);

/// Writes a new file as `writeFileAtomically` does (symbolic links included), but fails with
/// `FileAccessError` ("write", `std::errc::file_exists`) when something is already at `path`. The
/// name is claimed in one step, so a file that appears meanwhile is never replaced.
void createFileAtomically(const std::filesystem::path& path, ByteView bytes);

/// How many numbered names `writeNewFileAtomically` tries after `path` itself.
inline constexpr int maximumNumberedAlternatives = 999;

/// Writes a new file as atomically as `writeFileAtomically`, but never replaces anything: when
/// `path` exists, the first free name of "stem-2.ext", "stem-3.ext", … is taken instead. The name
/// is claimed in one step, so two processes writing into one folder never take the same name.
/// Returns the path written. Fails with `FileAccessError` ("write").
std::filesystem::path writeNewFileAtomically(const std::filesystem::path& path, ByteView bytes);

/// Fails with `FileAccessError` ("write to") unless a file can be created in `folder`: it makes
/// one there and removes it again, so that a missing folder, a read-only file system or a lack of
/// permission shows before any work is done.
void requireWritableFolder(const std::filesystem::path& folder);

/// Fails with `FileAccessError` ("write"), before any work is done, when a save to `path` would
/// fail or must not happen: something other than a regular file is there, a file is there and
/// `mayReplace` is false (`std::errc::file_exists`), or no file can be made in its folder. Symbolic
/// links are followed as the saves follow them.
void requireSavable(const std::filesystem::path& path, bool mayReplace);

/// The sentence a user reads for a failure: a `FlasherError`'s description, "Could not write
/// /a/b.bin: Permission denied." for file-system errors, or the exception's own text otherwise.
std::string userMessage(const std::exception& error);

/// `userMessage` of the exception currently being handled (call inside a catch block).
std::string currentExceptionMessage();

} // namespace pelwick
