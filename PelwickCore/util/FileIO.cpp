#include "util/FileIO.h"

#include "device/FlasherError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {

namespace {

std::error_code lastErrno() {
    return std::error_code(errno, std::generic_category());
}

std::string sentenceFor(const std::filesystem::filesystem_error& error, const std::string& verb,
                        const std::string& givenReason) {
    std::string reason = givenReason.empty() ? error.code().message() : givenReason;
    std::string text = "Could not " + verb + " " + error.path1().string();
    if (!reason.empty()) {
        text += ": " + reason;
    }
    return text + ".";
}

// The refusal of something that is not a regular file, saying what it is.
FileAccessError notARegularFile(const std::string& verb, const std::filesystem::path& path,
                                mode_t mode) {
    const char* what = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a named pipe"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "something else";
    return FileAccessError(verb, path,
                           std::make_error_code(S_ISDIR(mode) ? std::errc::is_a_directory
                                                              : std::errc::invalid_argument),
                           std::string("it is ") + what + ", not a regular file");
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

FileAccessError::FileAccessError(std::string verb, const std::filesystem::path& path,
                                 std::error_code code, std::string reason)
    : std::filesystem::filesystem_error(verb, path, code), verb_(std::move(verb)),
      reason_(std::move(reason)) {}

Bytes readRegularFile(const std::filesystem::path& path, std::size_t maximumBytes) {
    // Looked at before it is opened: opening a device can have effects of its own.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw FileAccessError("read", path, lastErrno());
    }
    if (!S_ISREG(info.st_mode)) {
        throw notARegularFile("read", path, info.st_mode);
    }
    // Non-blocking, so that a named pipe put in its place since then cannot hold the open.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        throw FileAccessError("read", path, lastErrno());
    }
    if (::fstat(file.fd, &info) != 0) {
        throw FileAccessError("read", path, lastErrno());
    }
    if (!S_ISREG(info.st_mode)) {
        throw notARegularFile("read", path, info.st_mode);
    }
    const std::size_t limit = maximumBytes + 1;
    Bytes data;
    std::uint8_t chunk[65536];
    while (data.size() < limit) {
        const ssize_t n = ::read(file.fd, chunk, std::min(sizeof chunk, limit - data.size()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileAccessError("read", path, lastErrno());
        }
        if (n == 0) {
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    return data;
}

namespace {

// A temporary file in `folder`, created exclusively with the mode a new file gets under the
// umask. Its name is short whatever the target's name, so it always fits the name limit.
// Failures name `target`, the file the user asked for.
struct TemporaryFile {
    std::filesystem::path path;
    int fd = -1;
};

std::filesystem::path folderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

TemporaryFile createTemporaryIn(const std::filesystem::path& folder,
                                const std::filesystem::path& target) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ULL ^
                         static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&seed));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".pelwick-";
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL +
               static_cast<std::uint64_t>(std::time(nullptr));
        for (int i = 0; i < 8; ++i) {
            name += letters[(seed >> (8 + 5 * i)) % (sizeof letters - 1)];
        }
        name += ".part";
        TemporaryFile file{folder / name, -1};
        file.fd = ::open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd >= 0) {
            return file;
        }
        if (errno != EEXIST) {
            throw FileAccessError("write", target, lastErrno());
        }
    }
    throw FileAccessError("write", target, std::make_error_code(std::errc::file_exists));
}

// Writes `bytes` into a new temporary file in `folder` and flushes it to the disk; the file is
// closed. `replaced`, when given, is the file about to be replaced, whose owner and permissions
// the new one takes instead of the umask's choice.
std::filesystem::path writeTemporaryIn(const std::filesystem::path& folder,
                                       const std::filesystem::path& target, ByteView bytes,
                                       const std::optional<struct stat>& replaced) {
    TemporaryFile file = createTemporaryIn(folder, target);
    auto fail = [&](std::error_code code) {
        ::close(file.fd);
        ::unlink(file.path.c_str());
        throw FileAccessError("write", target, code);
    };
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::write(file.fd, bytes.data() + offset, bytes.size() - offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(lastErrno());
        }
        offset += static_cast<std::size_t>(n);
    }
    if (replaced) {
        // Only root may give a file away; anyone else keeps their own file anyway.
        [[maybe_unused]] const int ignored = ::fchown(file.fd, replaced->st_uid, replaced->st_gid);
        if (::fchmod(file.fd, replaced->st_mode & 07777) != 0) {
            fail(lastErrno());
        }
    }
    // A backup is only worth something once it is on the disk.
    if (::fsync(file.fd) != 0) {
        fail(lastErrno());
    }
    if (::close(file.fd) != 0) {
        const auto code = lastErrno();
        ::unlink(file.path.c_str());
        throw FileAccessError("write", target, code);
    }
    return file.path;
}

// Where a write to `path` lands: `path` itself, or the name its symbolic links lead to.
std::filesystem::path followLinks(const std::filesystem::path& path) {
    std::filesystem::path target = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, error))) {
            return target;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error) {
            throw FileAccessError("write", path, error);
        }
        target = next.is_absolute() ? next : folderOf(target) / next;
    }
    throw FileAccessError("write", path,
                          std::make_error_code(std::errc::too_many_symbolic_link_levels));
}

// "name-2.ext" for the second try at "name.ext", and so on.
std::filesystem::path numberedAlternative(const std::filesystem::path& path, int number) {
    if (number < 2) {
        return path;
    }
    std::filesystem::path alternative = path;
    alternative.replace_filename(path.stem().string() + "-" + std::to_string(number) +
                                 path.extension().string());
    return alternative;
}

// Gives `temporary` the name `candidate` unless that name exists: 0, or the errno. link() never
// replaces a name, so two writers can never take the same one. Folders without hard links (FAT
// on a USB stick) refuse it; there a rename that refuses to replace does the same, and where even
// that is missing the name is first created exclusively, then filled by a rename.
int claimName(const std::filesystem::path& temporary, const std::filesystem::path& candidate) {
    if (::link(temporary.c_str(), candidate.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
        return errno;
    }
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EPERM) {
        return errno;
    }
    const int placeholder =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (placeholder < 0) {
        return errno;
    }
    ::close(placeholder);
    if (::rename(temporary.c_str(), candidate.c_str()) != 0) {
        const int error = errno;
        ::unlink(candidate.c_str());
        return error;
    }
    return 0;
}

// Gives the finished `temporary` the first free name of `path` and its first `alternatives` - 1
// numbered alternatives, and returns it. The temporary name is gone afterwards, whatever the
// outcome.
std::filesystem::path claimFreeName(const std::filesystem::path& temporary,
                                    const std::filesystem::path& path, int alternatives) {
    for (int number = 1; number <= alternatives; ++number) {
        const std::filesystem::path candidate = numberedAlternative(path, number);
        errno = claimName(temporary, candidate);
        if (errno == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            const auto code = lastErrno();
            ::unlink(temporary.c_str());
            throw FileAccessError("write", candidate, code);
        }
    }
    ::unlink(temporary.c_str());
    throw FileAccessError("write", path, std::make_error_code(std::errc::file_exists));
}

} // namespace

void writeFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const std::filesystem::path target = followLinks(path);
    std::optional<struct stat> replaced;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            throw notARegularFile("write", path, existing.st_mode);
        }
        replaced = existing;
    }
    const std::filesystem::path temporary =
        writeTemporaryIn(folderOf(target), path, bytes, replaced);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const auto code = lastErrno();
        ::unlink(temporary.c_str());
        throw FileAccessError("write", path, code);
    }
}

void createFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const std::filesystem::path target = followLinks(path);
    const std::filesystem::path temporary =
        writeTemporaryIn(folderOf(target), path, bytes, std::nullopt);
    try {
        claimFreeName(temporary, target, 1);
    } catch (const FileAccessError& error) {
        throw FileAccessError("write", path, error.code());
    }
}

std::filesystem::path writeNewFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const std::filesystem::path temporary =
        writeTemporaryIn(folderOf(path), path, bytes, std::nullopt);
    return claimFreeName(temporary, path, maximumNumberedAlternatives + 1);
}

void requireWritableFolder(const std::filesystem::path& folder) {
    std::string probe = (folder / ".pelwick-probe-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        throw FileAccessError("write to", folder, lastErrno());
    }
    ::close(fd);
    ::unlink(probe.c_str());
}

void requireSavable(const std::filesystem::path& path, bool mayReplace) {
    const std::filesystem::path target = followLinks(path);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            throw notARegularFile("write", path, existing.st_mode);
        }
        if (!mayReplace) {
            throw FileAccessError("write", path, std::make_error_code(std::errc::file_exists));
        }
    }
    try {
        requireWritableFolder(folderOf(target));
    } catch (const FileAccessError& error) {
        throw FileAccessError("write", path, error.code());
    }
}

std::string userMessage(const std::exception& error) {
    if (const auto* flasherError = dynamic_cast<const FlasherError*>(&error)) {
        return flasherError->errorDescription();
    }
    if (const auto* access = dynamic_cast<const FileAccessError*>(&error)) {
        return sentenceFor(*access, access->verb(), access->reason());
    }
    if (const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        return sentenceFor(*fsError, "access", {});
    }
    return error.what();
}

std::string currentExceptionMessage() {
    try {
        throw;
    } catch (const std::exception& error) {
        return userMessage(error);
    } catch (...) {
        return "Unknown error.";
    }
}

} // namespace pelwick
