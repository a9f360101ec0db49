#include "util/FileIO.h"

#include "device/FlasherError.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {

namespace {

std::error_code lastErrno() {
    return std::error_code(errno, std::generic_category());
}

std::string sentenceFor(const std::filesystem::filesystem_error& error, const std::string& verb) {
    std::string reason = error.code().message();
    std::string text = "Could not " + verb + " " + error.path1().string();
    if (!reason.empty()) {
        text += ": " + reason;
    }
    return text + ".";
}

} // namespace

FileAccessError::FileAccessError(std::string verb, const std::filesystem::path& path,
                                 std::error_code code)
    : std::filesystem::filesystem_error(verb, path, code), verb_(std::move(verb)) {}

Bytes readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw FileAccessError("read", path, lastErrno());
    }
    Bytes data;
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const auto code = lastErrno();
            ::close(fd);
            throw FileAccessError("read", path, code);
        }
        if (n == 0) {
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    ::close(fd);
    return data;
}

namespace {

// A temporary file beside `path`, created exclusively with the mode a new file gets under the
// umask. Its name is short whatever the target's name, so it always fits the name limit.
struct TemporaryFile {
    std::filesystem::path path;
    int fd = -1;
};

TemporaryFile createTemporaryBeside(const std::filesystem::path& path) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
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
            throw FileAccessError("write", path, lastErrno());
        }
    }
    throw FileAccessError("write", path, std::make_error_code(std::errc::file_exists));
}

// Writes `bytes` into a new temporary file beside `path` and flushes it to the disk; the file is
// closed. `mode`, when given, replaces the umask's choice.
std::filesystem::path writeTemporaryBeside(const std::filesystem::path& path, ByteView bytes,
                                           std::optional<mode_t> mode) {
    TemporaryFile file = createTemporaryBeside(path);
    auto fail = [&](std::error_code code) {
        ::close(file.fd);
        ::unlink(file.path.c_str());
        throw FileAccessError("write", path, code);
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
    // A backup is only worth something once it is on the disk.
    if ((mode && ::fchmod(file.fd, *mode) != 0) || ::fsync(file.fd) != 0) {
        fail(lastErrno());
    }
    if (::close(file.fd) != 0) {
        const auto code = lastErrno();
        ::unlink(file.path.c_str());
        throw FileAccessError("write", path, code);
    }
    return file.path;
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

} // namespace

void writeFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    // A file that is replaced keeps its permissions; a new one gets what the umask allows.
    std::optional<mode_t> mode;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        mode = existing.st_mode & 07777;
    }
    const std::filesystem::path temporary = writeTemporaryBeside(path, bytes, mode);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const auto code = lastErrno();
        ::unlink(temporary.c_str());
        throw FileAccessError("write", path, code);
    }
}

std::filesystem::path writeNewFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const std::filesystem::path temporary = writeTemporaryBeside(path, bytes, std::nullopt);
    for (int number = 1; number <= maximumNumberedAlternatives; ++number) {
        const std::filesystem::path candidate = numberedAlternative(path, number);
        // link() never replaces an existing name, so two writers can never take the same one.
        if (::link(temporary.c_str(), candidate.c_str()) == 0) {
            ::unlink(temporary.c_str());
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

std::string userMessage(const std::exception& error) {
    if (const auto* flasherError = dynamic_cast<const FlasherError*>(&error)) {
        return flasherError->errorDescription();
    }
    if (const auto* access = dynamic_cast<const FileAccessError*>(&error)) {
        return sentenceFor(*access, access->verb());
    }
    if (const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        return sentenceFor(*fsError, "access");
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
