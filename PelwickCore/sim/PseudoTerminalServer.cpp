#include "sim/PseudoTerminalServer.h"

#include "device/FlasherError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace pelwick {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "stop() must be async-signal-safe");

// While no client holds the terminal, the master reports a hang-up at once on every poll; the
// service then looks again at this interval instead of spinning.
constexpr int kIdlePollMs = 5;

// Replies not yet taken by the client. Beyond this the service stops reading commands until the
// client catches up, so a client that sends and never reads cannot make it grow without bound.
constexpr std::size_t kReplyBacklogLimit = 1u << 20;

constexpr std::size_t kReadChunk = 4096;

std::system_error systemError(int error, const char* what) {
    return std::system_error(error, std::generic_category(), what);
}

void makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        throw systemError(errno, "tcgetattr");
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        throw systemError(errno, "tcsetattr");
    }
}

void closeIfOpen(int& fd) noexcept {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

PseudoTerminalServer::PseudoTerminalServer(std::shared_ptr<ByteTransport> calculator)
    : calculator_(std::move(calculator)) {
    int slave = -1;
    try {
        if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
            throw systemError(errno, "openpty");
        }
        makeRaw(slave);
        makeRaw(master_);
        char name[256];
        if (const int error = ::ptsname_r(master_, name, sizeof name); error != 0) {
            throw systemError(error, "ptsname_r");
        }
        slavePath_ = name;
        // Our own slave descriptor would hide every client's hang-up from the master.
        closeIfOpen(slave);
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
            ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
            throw systemError(errno, "fcntl");
        }
        int wakeUp[2];
        if (::pipe2(wakeUp, O_NONBLOCK | O_CLOEXEC) != 0) {
            throw systemError(errno, "pipe2");
        }
        wakeRead_ = wakeUp[0];
        wakeWrite_ = wakeUp[1];
    } catch (...) {
        closeIfOpen(slave);
        closeIfOpen(master_);
        throw;
    }
}

PseudoTerminalServer::~PseudoTerminalServer() {
    stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    closeIfOpen(master_);
    closeIfOpen(wakeRead_);
    closeIfOpen(wakeWrite_);
}

void PseudoTerminalServer::start(CommandErrorHandler onCommandError) {
    if (thread_.joinable()) {
        throw std::logic_error("the pseudo-terminal is already being served");
    }
    thread_ = std::thread([this, onError = std::move(onCommandError)] {
        try {
            serveLoop(onError);
        } catch (const std::exception& error) {
            // A background thread has no caller to fail to; the service ends and says why.
            if (onError) {
                onError(error.what());
            }
        }
    });
}

void PseudoTerminalServer::serve(CommandErrorHandler onCommandError) {
    serveLoop(onCommandError);
}

void PseudoTerminalServer::stop() noexcept {
    stopRequested_ = true;
    wake();
}

void PseudoTerminalServer::hangUp() noexcept {
    if (hungUp_.exchange(true)) {
        return;
    }
    // Put a descriptor that reads as end-of-file in the master's place instead of closing it: the
    // terminal is released at once (or, while the service sits in poll(), as soon as the wake-up
    // below ends that wait), and the number stays ours, so the service thread can never end up
    // reading some other file that reused it.
    int deadEnd[2];
    if (::pipe2(deadEnd, O_CLOEXEC) == 0) {
        ::close(deadEnd[1]);
        ::dup2(deadEnd[0], master_);
        ::close(deadEnd[0]);
    } else if (const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC); null >= 0) {
        ::dup2(null, master_);
        ::close(null);
    }
    wake();
}

void PseudoTerminalServer::wake() noexcept {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost by failing here.
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
    errno = savedErrno;
}

void PseudoTerminalServer::drainWakeUps() noexcept {
    char sink[64];
    while (::read(wakeRead_, sink, sizeof sink) > 0) {
    }
}

void PseudoTerminalServer::serveLoop(const CommandErrorHandler& onCommandError) {
    bool clientPresent = false;
    Bytes chunk(kReadChunk);
    while (!ending()) {
        if (!clientPresent) {
            pollfd waker{wakeRead_, POLLIN, 0};
            ::poll(&waker, 1, kIdlePollMs);
            drainWakeUps();
            pollfd probe{master_, POLLIN, 0};
            if (ending() || ::poll(&probe, 1, 0) < 0 || (probe.revents & POLLHUP)) {
                continue;
            }
            clientPresent = true;
        }

        const std::size_t backlog = replies_.size() - repliesStart_;
        short events = 0;
        if (backlog < kReplyBacklogLimit) {
            events |= POLLIN;
        }
        if (backlog > 0) {
            events |= POLLOUT;
        }
        pollfd waiters[2] = {{master_, events, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(waiters, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw systemError(errno, "poll");
        }
        if (waiters[1].revents != 0) {
            drainWakeUps();
            continue;
        }
        const short got = waiters[0].revents;
        if (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            const ssize_t n = ::read(master_, chunk.data(), chunk.size());
            if (n > 0) {
                feed(chunk.data(), static_cast<std::size_t>(n), onCommandError);
                if (!ending() && !flushReplies()) {
                    clientLeft();
                    clientPresent = false;
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                // EIO (or end-of-file after hangUp()): the client closed the terminal.
                clientLeft();
                clientPresent = false;
            }
        } else if ((got & POLLOUT) && !flushReplies()) {
            clientLeft();
            clientPresent = false;
        }
    }
    if (hungUp_) {
        clientLeft();
    }
}

void PseudoTerminalServer::feed(const std::uint8_t* data, std::size_t size,
                                const CommandErrorHandler& onError) {
    // The monitor runs the commands queued behind a send-block payload only on its next write, and
    // a terminal joins whatever the client wrote in a row. Handing the bytes over in pieces that
    // end at each '#' runs every command as soon as it is complete, whatever the chunking.
    std::size_t start = 0;
    while (start < size) {
        const void* hash = std::memchr(data + start, '#', size - start);
        const std::size_t end =
            hash ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hash) - data) + 1
                 : size;
        try {
            calculator_->write(ByteView(data + start, end - start));
        } catch (const FlasherError& error) {
            if (onError) {
                onError(error.errorDescription());
            }
        }
        start = end;
    }
    try {
        for (;;) {
            const Bytes reply = calculator_->read(kReadChunk, 0);
            if (reply.empty()) {
                break;
            }
            replies_.insert(replies_.end(), reply.begin(), reply.end());
        }
    } catch (const FlasherError& error) {
        if (onError) {
            onError(error.errorDescription());
        }
    }
}

bool PseudoTerminalServer::flushReplies() {
    while (repliesStart_ < replies_.size()) {
        if (ending()) {
            return true;
        }
        const ssize_t n =
            ::write(master_, replies_.data() + repliesStart_, replies_.size() - repliesStart_);
        if (n > 0) {
            repliesStart_ += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client reads slowly: the rest goes out when the master reports room.
            return true;
        } else {
            return false;
        }
    }
    replies_.clear();
    repliesStart_ = 0;
    return true;
}

void PseudoTerminalServer::clientLeft() {
    calculator_->close();
    replies_.clear();
    repliesStart_ = 0;
}

} // namespace pelwick
