#include "device/POSIXSerialLink.h"

#include "device/FlasherError.h"
#include "util/Clock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace pelwick {

namespace {

thread_local int openErrno = 0;

speed_t speedFor(unsigned baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B115200;
    }
}

// Linux numbers the slave sides of pseudo-terminals with majors 136 to 143.
bool isPseudoTerminal(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
           major(info.st_rdev) <= 143;
}

bool cableGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// Upper bound of one wait, so that the deadline is re-checked even if poll() is woken spuriously.
constexpr int kPollSliceMs = 2;

// Draining is watched closely at first, where a USB transfer normally completes, and then at the
// polling interval.
constexpr double kDrainQuickSeconds = 0.01;
constexpr double kDrainQuickStep = 0.0001;
constexpr double kDrainStep = 0.002;

double secondsSince(MonotonicClock::time_point start) {
    return std::chrono::duration<double>(MonotonicClock::now() - start).count();
}

} // namespace

int POSIXSerialLink::lastOpenErrno() {
    return openErrno;
}

POSIXSerialLink::POSIXSerialLink(std::string path, unsigned baud, SerialLinkOptions options)
    : path_(std::move(path)), options_(std::move(options)) {
    openErrno = 0;
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openErrno = errno;
        throw FlasherError::serialOpenFailed(path_, openErrno);
    }
    fd_ = fd;
    auto fail = [this](int error) {
        openErrno = error;
        ::close(fd_);
        fd_ = -1;
        throw FlasherError::serialOpenFailed(path_, error);
    };
    // Another program (or a second Pelwick) already holding the port exclusively makes the open
    // above fail with EBUSY; from here on we hold it ourselves. TIOCEXCL does not keep root out,
    // so a second Pelwick is also stopped by the lock, before it changes any setting of the line
    // or flushes what the first one is reading. A file system without locks leaves TIOCEXCL.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        fail(EBUSY);
    }
    if (::ioctl(fd_, TIOCEXCL) != 0 && errno != ENOTTY) {
        fail(errno);
    }
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        fail(errno);
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, speedFor(baud));
    ::cfsetospeed(&settings, speedFor(baud));
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cflag &= ~(CSTOPB | PARENB | HUPCL | CRTSCTS);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
        fail(errno);
    }
    ::tcflush(fd_, TCIOFLUSH);
    // Draining a pseudo-terminal returns at once but still costs a system call per command, about
    // a fifth of a whole exchange with a simulator on the other side.
    drainsOutput_ = options_.pendingOutput || !isPseudoTerminal(fd_);
    sleepFor(0.05);
}

POSIXSerialLink::~POSIXSerialLink() {
    close();
}

Bytes POSIXSerialLink::read(std::size_t max, double timeout) {
    if (fd_ < 0) {
        throw FlasherError::notConnected();
    }
    const auto deadline = deadlineAfter(timeout);
    Bytes buffer(std::max<std::size_t>(max, 1));
    for (;;) {
        // Block in poll() until bytes arrive (or the line hangs up) instead of sleeping a fixed
        // interval, and read only once it reports something: a reply is normally not there yet
        // when its command has just been written, and a read that finds nothing costs as much as
        // the wait. With no time left the poll does not wait, so a time-out of 0 is one look.
        const double remaining = secondsUntil(deadline);
        const int sliceMs =
            remaining <= 0 ? 0
                           : std::clamp(static_cast<int>(remaining * 1000.0) + 1, 1, kPollSliceMs);
        pollfd waiter{fd_, POLLIN, 0};
        if (::poll(&waiter, 1, sliceMs) != 0) {
            const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n > 0) {
                buffer.resize(static_cast<std::size_t>(n));
                return buffer;
            }
            if (n == 0 && (waiter.revents & (POLLHUP | POLLERR))) {
                // A hung-up terminal reads as end-of-file rather than as an error.
                throw FlasherError::serialPortClosed();
            }
            if (n < 0) {
                const int error = errno;
                if (cableGone(error)) {
                    throw FlasherError::serialPortClosed();
                }
                if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
                    throw FlasherError::sambaProtocol("serial read failed (errno " +
                                                      std::to_string(error) + ")");
                }
            }
        }
        if (remaining <= 0) {
            return {};
        }
    }
}

void POSIXSerialLink::write(ByteView data) {
    std::size_t offset = 0;
    auto lastProgress = MonotonicClock::now();
    while (offset < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + offset, data.size() - offset);
        if (n >= 0) {
            offset += static_cast<std::size_t>(n);
            if (n > 0) {
                lastProgress = MonotonicClock::now();
            }
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            if (secondsSince(lastProgress) > options_.stallSeconds) {
                throw FlasherError::sambaTimeout();
            }
            pollfd waiter{fd_, POLLOUT, 0};
            ::poll(&waiter, 1, kPollSliceMs);
            continue;
        }
        if (cableGone(error)) {
            throw FlasherError::serialPortClosed();
        }
        throw FlasherError::sambaProtocol("serial write failed (errno " + std::to_string(error) +
                                          ")");
    }
    drainOutput();
}

void POSIXSerialLink::drainOutput() {
    // Waits as tcdrain() would, but with a limit: on a USB modem tcdrain() waits for every
    // pending transfer without one, so a monitor that stops taking data would hang the flash.
    if (fd_ < 0 || !drainsOutput_) {
        return;
    }
    const auto started = MonotonicClock::now();
    auto lastProgress = started;
    int previous = -1;
    for (;;) {
        int pending = 0;
        if (options_.pendingOutput) {
            pending = options_.pendingOutput(fd_);
        } else if (::ioctl(fd_, TIOCOUTQ, &pending) != 0) {
            pending = -1;
        }
        if (pending < 0) {
            if (cableGone(errno)) {
                throw FlasherError::serialPortClosed();
            }
            return; // the line cannot say; the next read finds out how it is
        }
        if (pending == 0) {
            return;
        }
        if (previous < 0 || pending < previous) {
            lastProgress = MonotonicClock::now();
        }
        previous = pending;
        if (secondsSince(lastProgress) > options_.stallSeconds) {
            throw FlasherError::sambaTimeout();
        }
        sleepFor(secondsSince(started) < kDrainQuickSeconds ? kDrainQuickStep : kDrainStep);
    }
}

void POSIXSerialLink::close() noexcept {
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace pelwick
