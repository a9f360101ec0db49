#pragma once

#include "device/ByteTransport.h"

#include <functional>
#include <string>

namespace pelwick {

/// How a serial link waits for the device to take what was written.
struct SerialLinkOptions {
    /// How many written bytes are still on their way to the device, or -1 with errno set. Empty:
    /// the terminal's own count (TIOCOUTQ), not asked on a pseudo-terminal, which has no
    /// transmitter. A test stands in a line that never drains here.
    std::function<int(int fd)> pendingOutput;
    /// A write or a drain that makes no progress for this long fails with the generic time-out.
    double stallSeconds = 5.0;
};

/// The USB CDC serial line to the calculator (/dev/ttyACM*), raw 8N1 without flow control. The
/// descriptor stays non-blocking; waiting for bytes is done in poll(), so a reply is taken the
/// moment it arrives.
class POSIXSerialLink : public ByteTransport {
public:
    /// Opens and configures the port and holds it exclusively, so that no other program can talk
    /// into a flash in progress: besides TIOCEXCL (which root passes) it takes an exclusive
    /// advisory lock on the device, which a second Pelwick cannot take whoever runs it. Fails with
    /// serialOpenFailed(path), whose errno is EBUSY when the port is held.
    POSIXSerialLink(std::string path, unsigned baud, SerialLinkOptions options = {});
    ~POSIXSerialLink() override;

    POSIXSerialLink(const POSIXSerialLink&) = delete;
    POSIXSerialLink& operator=(const POSIXSerialLink&) = delete;

    /// Sends every byte, then waits until the device has taken them; fails with the generic
    /// time-out when the line stops moving for `stallSeconds`.
    void write(ByteView data) override;
    Bytes read(std::size_t max, double timeout) override;
    void close() noexcept override;

    const std::string& path() const { return path_; }

    /// The errno of this thread's last failed open() (0 when opening failed elsewhere). The error
    /// carries it too (FlasherError::openErrno), also to other threads.
    static int lastOpenErrno();

private:
    void drainOutput();

    int fd_ = -1;
    std::string path_;
    SerialLinkOptions options_;
    // False on a pseudo-terminal (unless a test counts its output), which has no transmitter to
    // wait for.
    bool drainsOutput_ = true;
};

} // namespace pelwick
