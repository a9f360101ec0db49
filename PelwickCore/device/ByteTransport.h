#pragma once

#include "util/Bytes.h"

#include <cstddef>
#include <memory>

namespace pelwick {

/// A byte stream to the calculator's monitor: the serial link, the simulated calculator, and the
/// wrappers the tests put around them.
class ByteTransport {
public:
    virtual ~ByteTransport() = default;

    /// Sends all bytes. Fails with a FlasherError.
    virtual void write(ByteView data) = 0;

    /// Returns what is available, between 1 and `max` bytes, as soon as anything is there, or an
    /// empty buffer once `timeout` seconds passed with nothing. One read is always attempted, so a
    /// time-out of 0 still returns bytes that are already waiting. Fails with a FlasherError.
    virtual Bytes read(std::size_t max, double timeout) = 0;

    /// Closes the stream; idempotent, never fails.
    virtual void close() noexcept = 0;

    /// Exactly `count` (at least 1) bytes, or sambaTimeout("") when they do not all arrive before
    /// `timeout`. Asks only for what is still missing, so it never reads past a reply's end.
    Bytes readExactly(std::size_t count, double timeout);

    /// One read of up to 4096 bytes within `timeout`, whose bytes are dropped.
    void discardAvailable(double timeout);

    /// Drops what arrives until nothing has come for `quietSeconds`, or until `limitSeconds` have
    /// passed while bytes kept coming; returns how many bytes were dropped.
    std::size_t discardUntilQuiet(double quietSeconds, double limitSeconds);
};

/// Lends a transport that someone else owns: closing the lender's side only forwards `close()`.
/// Used where one long-lived transport (the DEMO calculator) is handed to a client per connection.
class SharedTransport : public ByteTransport {
public:
    explicit SharedTransport(std::shared_ptr<ByteTransport> target) : target_(std::move(target)) {}

    void write(ByteView data) override { target_->write(data); }
    Bytes read(std::size_t max, double timeout) override { return target_->read(max, timeout); }
    void close() noexcept override { target_->close(); }

    const std::shared_ptr<ByteTransport>& target() const { return target_; }

private:
    std::shared_ptr<ByteTransport> target_;
};

} // namespace pelwick
