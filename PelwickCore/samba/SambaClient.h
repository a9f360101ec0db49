#pragma once

#include "device/ByteTransport.h"
#include "util/Clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelwick {

/// One conversation with the chip's SAM-BA monitor in binary mode: reading and writing words and
/// blocks and jumping to code. Owns its transport. Used by one thread at a time.
///
/// Replies never shift: once an exchange has timed out (its reply may still come) the client is
/// unsettled, and until an exchange ends with a quiet line it drops whatever waits before it
/// sends a command whose reply it reads, and takes the last bytes to arrive as that reply (the
/// monitor answers in order, so late replies come first). On a settled line, bytes beyond a reply
/// mean that it was shifted, and the exchange fails instead of returning it.
class SambaClient {
public:
    /// The standard time-out of one exchange, seconds.
    static constexpr double defaultTimeout = 3.0;
    /// The largest block moved by one "R" or "S" command.
    static constexpr std::size_t blockSize = 4096;
    /// The chip identification register read by a ping.
    static constexpr std::uint32_t pingAddress = 0x400E0740;
    /// The version line read in connect is at most this long.
    static constexpr std::size_t versionLineLimit = 128;
    /// sambaProtocol details: more bytes came than a reply has; the reply to "V#" is not a line
    /// of printable text.
    static constexpr const char* unexpectedBytesDetail = "unexpected bytes after a reply";
    static constexpr const char* notAVersionDetail = "the version reply is not a line of text";

    /// Receives one line per event of the conversation, for a diagnostic trace: each command sent,
    /// the size of each data block sent and of each reply (with how long it took), each pause,
    /// each time-out and the input dropped. Payload bytes never appear in it.
    using Trace = std::function<void(const std::string& line)>;

    /// Wraps an open transport; sends nothing.
    explicit SambaClient(std::unique_ptr<ByteTransport> transport, SleepFunction sleep = sleepFor);

    SambaClient(const SambaClient&) = delete;
    SambaClient& operator=(const SambaClient&) = delete;

    /// Brings the monitor into binary mode, waits for the line to go quiet (an echo, or what is
    /// left of an interrupted conversation) and reads its version line: printable text ending in
    /// a line break, within versionLineLimit bytes. If no such line comes in time, recovers once
    /// through terminal mode ("T#", "N#", "V#").
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
    /// Drops what arrives until the line has been quiet for a moment (at most a second); never
    /// fails.
    void discardUntilQuiet() noexcept;
    /// Fails with unexpectedBytesDetail when any byte arrives within `seconds`: after the last
    /// reply of a read, so that a reply shifted by stray bytes cannot pass unnoticed.
    void expectQuiet(double seconds);
    /// Closes the transport.
    void close() noexcept;

    /// The monitor's version line from the last "V#" exchange, trimmed and escaped
    /// (escapedDeviceText) so that it can be shown as it is.
    const std::string& version() const { return version_; }
    /// Every command sent, in order (binary payloads are not in it).
    const std::vector<std::string>& commandTrace() const { return commandTrace_; }

    double afterSendDelay() const { return afterSendDelay_; }
    void setAfterSendDelay(double seconds) { afterSendDelay_ = seconds; }

    /// The sleep used for pauses (shared with the flash applet driver so tests can record both).
    const SleepFunction& sleeper() const { return sleep_; }

    /// Traces the conversation from now on (an empty function ends the trace).
    void setTrace(Trace trace);

private:
    enum class VersionReply { line, empty, notText };

    void sendCommand(const std::string& command);
    void enterBinaryModeQuietly();
    VersionReply readVersion(double timeout);
    Bytes readUntilPromptOrTimeout(double timeout);
    // Sends a command and reads its `length`-byte reply, keeping replies in step (see above).
    Bytes exchange(const std::string& command, std::size_t length, double timeout);
    Bytes lastToArrive(Bytes reply);
    void traceDropped(std::size_t count) const;

    std::unique_ptr<ByteTransport> transport_;
    SleepFunction sleep_;
    SleepFunction untracedSleep_;
    Trace trace_;
    std::string version_;
    std::vector<std::string> commandTrace_;
    double afterSendDelay_ = 0;
    bool unsettled_ = false;
};

} // namespace pelwick
