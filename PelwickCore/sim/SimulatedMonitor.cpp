#include "sim/SimulatedMonitor.h"

#include "device/FlasherError.h"

#include <algorithm>
#include <cmath>

namespace pelwick {

namespace {

// An unsigned 32-bit hexadecimal number with an optional sign; "-" only before zero.
std::optional<std::uint32_t> parseNumber(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// The command without its first character, split at every comma, empty pieces dropped.
std::vector<std::string> pieces(const std::string& command) {
    std::vector<std::string> result;
    std::string current;
    for (std::size_t i = 1; i < command.size(); ++i) {
        if (command[i] == ',') {
            if (!current.empty()) {
                result.push_back(std::move(current));
            }
            current.clear();
        } else {
            current += command[i];
        }
    }
    if (!current.empty()) {
        result.push_back(std::move(current));
    }
    return result;
}

std::string decodeLossy(const Bytes& bytes, std::size_t size) {
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = bytes[i];
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        bool valid = length != 0 && i + length <= size;
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
        }
        if (valid) {
            out.append(reinterpret_cast<const char*>(bytes.data() + i), length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

SimulatedMonitor::SimulatedMonitor(double operationDelay, SleepFunction sleep)
    : operationDelay_(operationDelay), sleep_(std::move(sleep)) {}

std::uint32_t SimulatedMonitor::loadWord(std::uint32_t address) const {
    std::uint32_t word = 0;
    for (std::uint32_t i = 0; i < 4; ++i) {
        word |= static_cast<std::uint32_t>(loadByte(address + i)) << (8 * i);
    }
    return word;
}

void SimulatedMonitor::storeWord(std::uint32_t address, std::uint32_t value) {
    for (std::uint32_t i = 0; i < 4; ++i) {
        storeByte(address + i, static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void SimulatedMonitor::monitorStoreWord(std::uint32_t address, std::uint32_t value) {
    storeWord(address, value);
}

void SimulatedMonitor::pause(double seconds) {
    if (seconds > 0) {
        sleep_(seconds);
    }
}

void SimulatedMonitor::appendWordBytes(std::uint32_t word) {
    for (int i = 0; i < 4; ++i) {
        outbound_.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
}

void SimulatedMonitor::delay(long long bytes) {
    if (operationDelay_ <= 0 || bytes < 1) {
        return;
    }
    const long long blocks = (bytes + 511) / 512;
    const double micros =
        std::min(std::round(operationDelay_ * 1e6 * static_cast<double>(blocks)), 500000.0);
    if (micros >= 1) {
        sleep_(micros / 1e6);
    }
}

std::size_t SimulatedMonitor::takePayload(const std::uint8_t* data, std::size_t size) {
    PendingPayload& payload = *pendingPayload_;
    const auto n = static_cast<std::size_t>(
        std::min<long long>(static_cast<long long>(size), payload.remaining));
    for (std::size_t i = 0; i < n; ++i) {
        storeByte(payload.address + static_cast<std::uint32_t>(i), data[i]);
    }
    if (payload.remaining - static_cast<long long>(n) < 1) {
        const long long total = payload.total;
        pendingPayload_.reset();
        delay(total);
    } else {
        payload.address += static_cast<std::uint32_t>(n);
        payload.remaining -= static_cast<long long>(n);
    }
    return n;
}

void SimulatedMonitor::write(ByteView data) {
    if (closed_) {
        throw FlasherError::notConnected();
    }
    if (!pendingPayload_) {
        inbound_.insert(inbound_.end(), data.begin(), data.end());
        drainCommands();
        return;
    }
    const std::size_t taken = takePayload(data.data(), data.size());
    if (taken < data.size()) {
        inbound_.insert(inbound_.end(), data.begin() + static_cast<std::ptrdiff_t>(taken),
                        data.end());
        drainCommands();
    }
}

void SimulatedMonitor::drainCommands() {
    while (!pendingPayload_) {
        const auto hash = std::find(inbound_.begin(), inbound_.end(), '#');
        if (hash == inbound_.end()) {
            return;
        }
        const auto length = static_cast<std::size_t>(hash - inbound_.begin());
        const std::string command = decodeLossy(inbound_, length);
        inbound_.erase(inbound_.begin(), hash + 1);
        handle(command);
    }
    if (inbound_.empty()) {
        return;
    }
    // Payload bytes that arrived together with their command; commands behind them wait for the
    // next write.
    const std::size_t taken = takePayload(inbound_.data(), inbound_.size());
    inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(taken));
}

std::uint32_t SimulatedMonitor::parseAddress(const std::string& command) const {
    const auto parts = pieces(command);
    const auto number = parts.empty() ? std::nullopt : parseNumber(parts.front());
    if (!number) {
        throw FlasherError::sambaProtocol("bad address in " + command);
    }
    return *number;
}

std::pair<std::uint32_t, std::uint32_t>
SimulatedMonitor::parseAddressValue(const std::string& command) const {
    const auto parts = pieces(command);
    if (parts.size() == 2) {
        const auto first = parseNumber(parts[0]);
        const auto second = parseNumber(parts[1]);
        if (first && second) {
            return {*first, *second};
        }
    }
    throw FlasherError::sambaProtocol("bad command " + command);
}

void SimulatedMonitor::handle(const std::string& command) {
    if (command == "T") {
        outbound_.insert(outbound_.end(), {'\r', '\n', '>'});
        return;
    }
    if (command == "N") {
        outbound_.insert(outbound_.end(), {'\r', '\n'});
        return;
    }
    if (command == "V") {
        const std::string reply = versionReply;
        outbound_.insert(outbound_.end(), reply.begin(), reply.end());
        return;
    }
    const char first = command.empty() ? '\0' : command.front();
    switch (first) {
    case 'w':
        appendWordBytes(loadWord(parseAddress(command)));
        return;
    case 'W': {
        const auto [address, value] = parseAddressValue(command);
        monitorStoreWord(address, value);
        return;
    }
    case 'R': {
        const auto [address, length] = parseAddressValue(command);
        if (length > maximumTransferLength) {
            throw FlasherError::sambaProtocol("bad command " + command);
        }
        delay(length);
        outbound_.reserve(outbound_.size() + length);
        for (std::uint32_t i = 0; i < length; ++i) {
            outbound_.push_back(loadByte(address + i));
        }
        return;
    }
    case 'S': {
        const auto [address, length] = parseAddressValue(command);
        if (length > maximumTransferLength) {
            throw FlasherError::sambaProtocol("bad command " + command);
        }
        // A zero-length send has no payload to wait for.
        if (length > 0) {
            pendingPayload_ = PendingPayload{address, length, length};
        }
        return;
    }
    case 'G':
        jump(parseAddress(command));
        return;
    default:
        throw FlasherError::sambaProtocol("unknown command " + command);
    }
}

Bytes SimulatedMonitor::read(std::size_t max, double) {
    if (closed_) {
        throw FlasherError::notConnected();
    }
    const std::size_t available = outbound_.size() - outboundStart_;
    if (available == 0) {
        return {};
    }
    const std::size_t n = std::min(max, available);
    const auto begin = outbound_.begin() + static_cast<std::ptrdiff_t>(outboundStart_);
    Bytes reply(begin, begin + static_cast<std::ptrdiff_t>(n));
    outboundStart_ += n;
    if (outboundStart_ == outbound_.size()) {
        outbound_.clear();
        outboundStart_ = 0;
    }
    return reply;
}

void SimulatedMonitor::close() noexcept {
    inbound_.clear();
    outbound_.clear();
    outboundStart_ = 0;
    pendingPayload_.reset();
}

} // namespace pelwick
