#pragma once

#include "device/ByteTransport.h"
#include "util/Clock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelwick {

/// One conversation with the chip's SAM-BA monitor in binary mode: reading and writing words and
/// blocks and jumping to code. Owns its transport. Used by one thread at a time.
class SambaClient {
public:
    /// The standard time-out of one exchange, seconds.
    static constexpr double defaultTimeout = 3.0;
    /// The largest block moved by one "R" or "S" command.
    static constexpr std::size_t blockSize = 4096;
    /// The chip identification register read by a ping.
    static constexpr std::uint32_t pingAddress = 0x400E0740;

    /// Wraps an open transport; sends nothing.
    explicit SambaClient(std::unique_ptr<ByteTransport> transport, SleepFunction sleep = sleepFor);

    SambaClient(const SambaClient&) = delete;
    SambaClient& operator=(const SambaClient&) = delete;

    /// Brings the monitor into binary mode and reads its version line; if the version does not
    /// come in time, recovers once through terminal mode ("T#", "N#", "V#").
    void connect(double timeout);
    /// Sends "N#" and discards the echo.
    void enterBinaryMode();
    /// Reads the CHIPID register and drops the value; succeeds only if the monitor answers.
    void ping(double timeout);

    std::uint32_t readWord(std::uint32_t address, double timeout);
    void writeWord(std::uint32_t address, std::uint32_t value);
    /// Reads `length` bytes in blocks of at most 4096, each with a fresh `timeout`.
    Bytes read(std::uint32_t address, std::size_t length, double timeout);
    /// Sends `data` in blocks of at most 4096, each followed by `afterSendDelay`.
    void write(std::uint32_t address, ByteView data);
    /// Starts executing code at `address`.
    void go(std::uint32_t address);

    /// Drops whatever arrives within `timeout`; never fails.
    void discardAvailable(double timeout) noexcept;
    /// Closes the transport.
    void close() noexcept;

    /// The monitor's version line from the last "V#" exchange (trimmed).
    const std::string& version() const { return version_; }
    /// Every command sent, in order (binary payloads are not in it).
    const std::vector<std::string>& commandTrace() const { return commandTrace_; }

    double afterSendDelay() const { return afterSendDelay_; }
    void setAfterSendDelay(double seconds) { afterSendDelay_ = seconds; }

    /// The sleep used for pauses (shared with the flash applet driver so tests can record both).
    const SleepFunction& sleeper() const { return sleep_; }

private:
    void sendCommand(const std::string& command);
    void readVersion(double timeout);
    std::string readASCIILine(double timeout);
    Bytes readUntilPromptOrTimeout(double timeout);

    std::unique_ptr<ByteTransport> transport_;
    SleepFunction sleep_;
    std::string version_;
    std::vector<std::string> commandTrace_;
    double afterSendDelay_ = 0;
};

} // namespace pelwick
