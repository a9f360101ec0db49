#include "util/FileIO.h"

#include "device/FlasherError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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

void writeFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw FileAccessError("write", path, lastErrno());
    }
    const std::filesystem::path temporary = pattern;
    auto fail = [&](std::error_code code) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw FileAccessError("write", path, code);
    };
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + offset, bytes.size() - offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(lastErrno());
        }
        offset += static_cast<std::size_t>(n);
    }
    // A backup is only worth something once it is on the disk; mkstemp gives 0600, widen to the
    // usual permissions of a user's file.
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
        fail(lastErrno());
    }
    if (::close(fd) != 0) {
        const auto code = lastErrno();
        ::unlink(temporary.c_str());
        throw FileAccessError("write", path, code);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const auto code = lastErrno();
        ::unlink(temporary.c_str());
        throw FileAccessError("write", path, code);
    }
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
