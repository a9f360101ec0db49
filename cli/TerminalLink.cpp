#include "TerminalLink.h"

#include "util/FileIO.h"

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {

namespace {

[[noreturn]] void failLinking(const std::filesystem::path& link) {
    throw FileAccessError("create the link", link, std::error_code(errno, std::generic_category()));
}

} // namespace

TerminalLink::TerminalLink(std::filesystem::path link, std::filesystem::path terminal)
    : link_(std::move(link)), terminal_(std::move(terminal)) {
    struct stat existing {};
    if (::lstat(link_.c_str(), &existing) != 0) {
        // Nothing there: symlink() itself refuses if something appears meanwhile.
        if (::symlink(terminal_.c_str(), link_.c_str()) != 0) {
            failLinking(link_);
        }
        return;
    }
    if (!S_ISLNK(existing.st_mode)) {
        throw std::runtime_error("Refusing to replace " + link_.string() +
                                 ": it exists and is not a symbolic link.");
    }
    // A stale link, e.g. from a simulator that was killed: swap in the new one atomically.
    const std::filesystem::path temporary =
        link_.parent_path() / ("." + link_.filename().string() + ".pelwick-link");
    ::unlink(temporary.c_str());
    if (::symlink(terminal_.c_str(), temporary.c_str()) != 0) {
        failLinking(link_);
    }
    if (::rename(temporary.c_str(), link_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        failLinking(link_);
    }
}

TerminalLink::~TerminalLink() {
    std::error_code code;
    if (std::filesystem::read_symlink(link_, code) == terminal_ && !code) {
        std::filesystem::remove(link_, code);
    }
}

} // namespace pelwick
