#include "support/PseudoTerminal.h"

#include "util/Clock.h"

#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace pelwick::testing {

PseudoTerminal::PseudoTerminal() {
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    char name[256];
    ::ptsname_r(master_, name, sizeof name);
    slavePath_ = name;
    ::close(slave);
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
}

void PseudoTerminal::write(const Bytes& bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + offset, bytes.size() - offset);
        if (n < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "write to pty master");
        }
        offset += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

Bytes PseudoTerminal::read(std::size_t count, double timeout) {
    Bytes result;
    const auto deadline = deadlineAfter(timeout);
    while (result.size() < count) {
        const double remaining = secondsUntil(deadline);
        if (remaining <= 0) {
            break;
        }
        pollfd waiter{master_, POLLIN, 0};
        if (::poll(&waiter, 1, static_cast<int>(remaining * 1000) + 1) <= 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - result.size());
        const ssize_t n = ::read(master_, buffer, want);
        if (n > 0) {
            result.insert(result.end(), buffer, buffer + n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            break; // EIO: the client closed its side
        }
    }
    return result;
}

void PseudoTerminal::closeMaster() {
    ::close(std::exchange(master_, -1)); // a second close is of -1, and does nothing
}

} // namespace pelwick::testing
