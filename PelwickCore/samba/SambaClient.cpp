#include "samba/SambaClient.h"

#include "device/DeviceText.h"
#include "device/FlasherError.h"
#include "util/Format.h"

#include <algorithm>
#include <chrono>

namespace pelwick {

namespace {

// After "N#": how long the monitor's answer (or an echo, or the rest of a reply that an earlier
// program never read) may take to begin; once it has, it must be over before the version is asked.
constexpr double kEchoQuietSeconds = 0.2;
// Leftovers and late replies: the monitor sends a reply in one go, so a short pause ends it.
constexpr double kLeftoverQuietSeconds = 0.05;
// However long bytes keep coming, waiting for quiet ends after this.
constexpr double kQuietLimitSeconds = 1.0;

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

bool isPrintableText(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte <= 0x7E) || byte == '\t';
    });
}

} // namespace

SambaClient::SambaClient(std::unique_ptr<ByteTransport> transport, SleepFunction sleep)
    : transport_(std::move(transport)), sleep_(sleep), untracedSleep_(std::move(sleep)) {}

void SambaClient::setTrace(Trace trace) {
    trace_ = std::move(trace);
    sleep_ = untracedSleep_;
    if (trace_) {
        // The flash applet driver pauses through this sleep too, so its pauses are traced as well.
        sleep_ = [sleep = untracedSleep_, trace = trace_](double seconds) {
            trace(formatString("pause %.3f s", seconds));
            sleep(seconds);
        };
    }
}

void SambaClient::traceDropped(std::size_t count) const {
    if (trace_ && count > 0) {
        trace_(formatString("discarded %zu bytes", count));
    }
}

void SambaClient::sendCommand(const std::string& command) {
    commandTrace_.push_back(command);
    if (trace_) {
        trace_("send " + command);
    }
    transport_->write(
        ByteView(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
}

void SambaClient::connect(double timeout) {
    enterBinaryModeQuietly();
    VersionReply reply = VersionReply::notText;
    try {
        reply = readVersion(timeout);
    } catch (const FlasherError& error) {
        if (error.kind() != FlasherError::Case::sambaTimeout) {
            throw;
        }
    }
    if (reply == VersionReply::notText) {
        // The monitor may still be in terminal mode, or still talking: wait for its prompt,
        // switch to binary mode again and ask once more.
        sendCommand("T#");
        try {
            traceDropped(readUntilPromptOrTimeout(std::min(timeout, 1.0)).size());
        } catch (const std::exception&) {
        }
        enterBinaryModeQuietly();
        reply = readVersion(timeout);
    }
    if (reply == VersionReply::empty) {
        throw FlasherError::sambaProtocol("empty version string");
    }
    if (reply == VersionReply::notText) {
        throw FlasherError::sambaProtocol(notAVersionDetail);
    }
    // What follows the line (a carriage return, a prompt) is not part of the next reply.
    discardUntilQuiet();
    unsettled_ = false;
}

void SambaClient::enterBinaryMode() {
    sendCommand("N#");
    discardAvailable(0.2);
}

void SambaClient::enterBinaryModeQuietly() {
    sendCommand("N#");
    try {
        // The answer (or an echo) comes within the first wait; whatever follows it has to end.
        const std::size_t echoed = transport_->read(blockSize, kEchoQuietSeconds).size();
        traceDropped(echoed > 0 ? echoed + transport_->discardUntilQuiet(kLeftoverQuietSeconds,
                                                                         kQuietLimitSeconds)
                                : 0);
    } catch (...) {
    }
}

void SambaClient::ping(double timeout) {
    (void)readWord(pingAddress, timeout);
}

SambaClient::VersionReply SambaClient::readVersion(double timeout) {
    sendCommand("V#");
    version_.clear();
    if (timeout <= 0) {
        throw FlasherError::sambaTimeout();
    }
    const auto deadline = deadlineAfter(timeout);
    Bytes buffer;
    std::size_t dropped = 0; // bytes of empty lines already passed over
    for (;;) {
        const auto end = std::find(buffer.begin(), buffer.end(), '\n');
        const auto lineLength = static_cast<std::size_t>(end - buffer.begin());
        if (dropped + std::min(lineLength, buffer.size()) > versionLineLimit) {
            version_ = escapedDeviceText(trimmed(std::string(buffer.begin(), end)));
            return VersionReply::notText;
        }
        if (end != buffer.end()) {
            const std::string line = trimmed(std::string(buffer.begin(), end));
            if (!line.empty()) {
                version_ = escapedDeviceText(line);
                if (trace_) {
                    trace_("version line \"" + version_ + "\"");
                }
                return isPrintableText(line) ? VersionReply::line : VersionReply::notText;
            }
            // An empty line with more behind it is a late answer to an earlier command (the "N#"
            // before, say); an empty line alone is the monitor's empty version.
            dropped += lineLength + 1;
            buffer.erase(buffer.begin(), end + 1);
            if (buffer.empty()) {
                buffer = transport_->read(64, kLeftoverQuietSeconds);
                if (buffer.empty()) {
                    return VersionReply::empty;
                }
            }
            continue;
        }
        const double remaining = secondsUntil(deadline);
        if (remaining <= 0) {
            if (trace_) {
                trace_(formatString("no version line within %.3f s", timeout));
            }
            throw FlasherError::sambaTimeout();
        }
        const Bytes chunk = transport_->read(64, std::max(remaining, 0.05));
        buffer.insert(buffer.end(), chunk.begin(), chunk.end());
    }
}

Bytes SambaClient::readUntilPromptOrTimeout(double timeout) {
    const auto deadline = deadlineAfter(timeout);
    Bytes buffer;
    if (timeout <= 0) {
        return buffer;
    }
    for (;;) {
        const Bytes chunk = transport_->read(64, std::max(secondsUntil(deadline), 0.05));
        if (chunk.empty()) {
            return buffer;
        }
        buffer.insert(buffer.end(), chunk.begin(), chunk.end());
        if (std::find(buffer.begin(), buffer.end(), '>') != buffer.end()) {
            return buffer;
        }
        if (secondsUntil(deadline) <= 0) {
            return buffer;
        }
    }
}

Bytes SambaClient::exchange(const std::string& command, std::size_t length, double timeout) {
    if (unsettled_) {
        discardUntilQuiet();
    }
    try {
        sendCommand(command);
        const auto sent = MonotonicClock::now();
        Bytes reply = transport_->readExactly(length, timeout);
        if (trace_) {
            const std::chrono::duration<double, std::milli> waited = MonotonicClock::now() - sent;
            trace_(formatString("reply %zu bytes after %.1f ms", reply.size(), waited.count()));
        }
        return lastToArrive(std::move(reply));
    } catch (const FlasherError& error) {
        // The reply may still come, and must not be taken for the next one.
        if (error.kind() == FlasherError::Case::sambaTimeout) {
            unsettled_ = true;
            if (trace_) {
                trace_(
                    formatString("no complete reply of %zu bytes within %.3f s", length, timeout));
            }
        }
        throw;
    }
}

Bytes SambaClient::lastToArrive(Bytes reply) {
    if (!unsettled_) {
        // One look, without waiting, at whether anything follows the reply.
        if (!transport_->read(1, 0).empty()) {
            unsettled_ = true;
            if (trace_) {
                trace_(unexpectedBytesDetail);
            }
            throw FlasherError::sambaProtocol(unexpectedBytesDetail);
        }
        return reply;
    }
    // Late replies to commands that timed out come before this one; it is the last to arrive.
    const std::size_t length = reply.size();
    std::size_t more = 0;
    const auto limit = deadlineAfter(kQuietLimitSeconds);
    for (;;) {
        const Bytes chunk = transport_->read(
            blockSize, std::clamp(secondsUntil(limit), 0.0, kLeftoverQuietSeconds));
        if (chunk.empty()) {
            break;
        }
        more += chunk.size();
        reply.insert(reply.end(), chunk.begin(), chunk.end());
        reply.erase(reply.begin(), reply.end() - static_cast<std::ptrdiff_t>(length));
        if (secondsUntil(limit) <= 0) {
            break;
        }
    }
    unsettled_ = more > 0;
    traceDropped(more);
    return reply;
}

std::uint32_t SambaClient::readWord(std::uint32_t address, double timeout) {
    const Bytes reply = exchange(formatString("w%08X,4#", address), 4, timeout);
    return static_cast<std::uint32_t>(reply[0]) | static_cast<std::uint32_t>(reply[1]) << 8 |
           static_cast<std::uint32_t>(reply[2]) << 16 | static_cast<std::uint32_t>(reply[3]) << 24;
}

void SambaClient::writeWord(std::uint32_t address, std::uint32_t value) {
    sendCommand(formatString("W%08X,%08X#", address, value));
}

Bytes SambaClient::read(std::uint32_t address, std::size_t length, double timeout) {
    Bytes result;
    result.reserve(length);
    std::size_t offset = 0;
    while (offset < length) {
        const std::size_t n = std::min(length - offset, blockSize);
        const Bytes block =
            exchange(formatString("R%08X,%08X#", static_cast<std::uint32_t>(address + offset),
                                  static_cast<std::uint32_t>(n)),
                     n, timeout);
        result.insert(result.end(), block.begin(), block.end());
        offset += n;
    }
    return result;
}

void SambaClient::write(std::uint32_t address, ByteView data) {
    std::size_t offset = 0;
    while (offset < data.size()) {
        const std::size_t n = std::min(data.size() - offset, blockSize);
        sendCommand(formatString("S%08X,%08X#", static_cast<std::uint32_t>(address + offset),
                                 static_cast<std::uint32_t>(n)));
        transport_->write(data.subspan(offset, n));
        if (trace_) {
            trace_(formatString("data %zu bytes", n));
        }
        if (afterSendDelay_ > 0) {
            sleep_(afterSendDelay_);
        }
        offset += n;
    }
}

void SambaClient::go(std::uint32_t address) {
    sendCommand(formatString("G%08X#", address));
}

void SambaClient::discardAvailable(double timeout) noexcept {
    try {
        traceDropped(transport_->read(blockSize, timeout).size());
    } catch (...) {
    }
}

void SambaClient::discardUntilQuiet() noexcept {
    try {
        traceDropped(transport_->discardUntilQuiet(kLeftoverQuietSeconds, kQuietLimitSeconds));
    } catch (...) {
    }
}

void SambaClient::expectQuiet(double seconds) {
    if (!transport_->read(1, seconds).empty()) {
        unsettled_ = true;
        if (trace_) {
            trace_(unexpectedBytesDetail);
        }
        throw FlasherError::sambaProtocol(unexpectedBytesDetail);
    }
}

void SambaClient::close() noexcept {
    if (trace_) {
        trace_("close");
    }
    transport_->close();
}

} // namespace pelwick
