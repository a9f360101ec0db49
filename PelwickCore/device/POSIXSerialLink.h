#pragma once

#include "device/ByteTransport.h"

#include <string>

namespace pelwick {

/// The USB CDC serial line to the calculator (/dev/ttyACM*), raw 8N1 without flow control. The
/// descriptor stays non-blocking; waiting for bytes is done in poll(), so a reply is taken the
/// moment it arrives.
class POSIXSerialLink : public ByteTransport {
public:
    /// Opens and configures the port and holds it exclusively, so that no other program can talk
    /// into a flash in progress. Fails with serialOpenFailed(path).
    POSIXSerialLink(std::string path, unsigned baud);
    ~POSIXSerialLink() override;

    POSIXSerialLink(const POSIXSerialLink&) = delete;
    POSIXSerialLink& operator=(const POSIXSerialLink&) = delete;

    void write(ByteView data) override;
    Bytes read(std::size_t max, double timeout) override;
    void close() noexcept override;

    const std::string& path() const { return path_; }

    /// The errno of this thread's last failed open() (0 when opening failed elsewhere). The error
    /// carries it too (FlasherError::openErrno), also to other threads.
    static int lastOpenErrno();

private:
    int fd_ = -1;
    std::string path_;
    // False on a pseudo-terminal, which has no transmitter to wait for.
    bool drainsOutput_ = true;
};

} // namespace pelwick
