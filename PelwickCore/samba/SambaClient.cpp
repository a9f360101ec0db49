#include "samba/SambaClient.h"

#include "device/FlasherError.h"
#include "util/Format.h"

#include <algorithm>

namespace pelwick {

namespace {

// Decodes UTF-8 and replaces every invalid sequence by U+FFFD, as the version line is shown.
std::string decodeLossy(const std::uint8_t* data, std::size_t size) {
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = data[i];
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length != 0 && i + length <= size;
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (data[i + k] & 0xC0) == 0x80;
        }
        if (valid) {
            out.append(reinterpret_cast<const char*>(data + i), length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

} // namespace

SambaClient::SambaClient(std::unique_ptr<ByteTransport> transport, SleepFunction sleep)
    : transport_(std::move(transport)), sleep_(std::move(sleep)) {}

void SambaClient::sendCommand(const std::string& command) {
    commandTrace_.push_back(command);
    transport_->write(
        ByteView(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
}

void SambaClient::connect(double timeout) {
    sendCommand("N#");
    discardAvailable(0.2);
    try {
        readVersion(timeout);
        return;
    } catch (const FlasherError& error) {
        if (error.kind() != FlasherError::Case::sambaTimeout) {
            throw;
        }
    }
    // The monitor may still be in terminal mode: wait for its prompt, switch to binary mode again
    // and ask once more.
    sendCommand("T#");
    try {
        (void)readUntilPromptOrTimeout(std::min(timeout, 1.0));
    } catch (const std::exception&) {
    }
    sendCommand("N#");
    discardAvailable(0.2);
    readVersion(timeout);
}

void SambaClient::enterBinaryMode() {
    sendCommand("N#");
    discardAvailable(0.2);
}

void SambaClient::ping(double timeout) {
    (void)readWord(pingAddress, timeout);
}

void SambaClient::readVersion(double timeout) {
    sendCommand("V#");
    const std::string line = readASCIILine(timeout);
    version_ = line;
    if (line.empty()) {
        throw FlasherError::sambaProtocol("empty version string");
    }
}

std::string SambaClient::readASCIILine(double timeout) {
    const auto deadline = deadlineAfter(timeout);
    if (timeout <= 0) {
        throw FlasherError::sambaTimeout();
    }
    Bytes buffer;
    for (;;) {
        const Bytes chunk = transport_->read(64, std::max(secondsUntil(deadline), 0.05));
        buffer.insert(buffer.end(), chunk.begin(), chunk.end());
        if (std::find(buffer.begin(), buffer.end(), '\n') != buffer.end()) {
            break;
        }
        if (secondsUntil(deadline) <= 0) {
            throw FlasherError::sambaTimeout();
        }
    }
    const auto end = std::find(buffer.begin(), buffer.end(), '\n');
    return trimmed(decodeLossy(buffer.data(), static_cast<std::size_t>(end - buffer.begin())));
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

std::uint32_t SambaClient::readWord(std::uint32_t address, double timeout) {
    sendCommand(formatString("w%08X,4#", address));
    const Bytes reply = transport_->readExactly(4, timeout);
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
        sendCommand(formatString("R%08X,%08X#", static_cast<std::uint32_t>(address + offset),
                                 static_cast<std::uint32_t>(n)));
        const Bytes block = transport_->readExactly(n, timeout);
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
        transport_->discardAvailable(timeout);
    } catch (...) {
    }
}

void SambaClient::close() noexcept {
    transport_->close();
}

} // namespace pelwick
