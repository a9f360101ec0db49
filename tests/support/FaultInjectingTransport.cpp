#include "support/FaultInjectingTransport.h"

#include "device/FlasherError.h"

#include <algorithm>
#include <utility>

namespace pelwick::testing {

// The second number of "R<address>,<length>#" or "S<address>,<length>#".
static std::size_t lengthField(const std::string& command) {
    const auto comma = command.find(',');
    return comma == std::string::npos ? 0 : std::stoul(command.substr(comma + 1), nullptr, 16);
}

FaultInjectingTransport::FaultInjectingTransport(std::shared_ptr<ByteTransport> inner)
    : inner_(std::move(inner)) {}

void FaultInjectingTransport::injectAtWrite(int writeNumber, Fault fault, std::size_t amount) {
    injectWhen({}, fault, amount);
    atWrite_ = writeNumber;
}

void FaultInjectingTransport::injectWhen(CommandPredicate predicate, Fault fault,
                                         std::size_t amount) {
    atWrite_.reset();
    predicate_ = std::move(predicate);
    fault_ = fault;
    amount_ = amount;
}

void FaultInjectingTransport::hold(const Bytes& bytes, std::size_t packetSize) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += packetSize) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        held_.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(
                                              std::min(packetSize, bytes.size() - offset)));
    }
}

FaultInjectingTransport::CommandPredicate
FaultInjectingTransport::nthCommandStartingWith(std::string prefix, int occurrence) {
    return [prefix, occurrence](const std::vector<std::string>& history) {
        const auto seen = std::count_if(history.begin(), history.end(), [&](const auto& command) {
            return command.starts_with(prefix);
        });
        return history.back().starts_with(prefix) && seen == occurrence;
    };
}

void FaultInjectingTransport::write(ByteView data) {
    ++writes_;
    const bool isCommand = payloadRemaining_ == 0 && !data.empty() && data.back() == '#';
    const std::string command = isCommand ? std::string(data.begin(), data.end()) : "";
    if (isCommand) {
        commands_.push_back(command);
    }
    payloadRemaining_ = command.starts_with("S")
                            ? lengthField(command)
                            : payloadRemaining_ - std::min(payloadRemaining_, data.size());
    const bool triggers =
        atWrite_ ? *atWrite_ == writes_ : isCommand && predicate_ && predicate_(commands_);
    if (triggers) {
        atWrite_.reset();
        predicate_ = {};
        triggered_ = true;
        if (fault_ == Fault::cableGone || fault_ == Fault::lineStalls ||
            fault_ == Fault::monitorSilent || fault_ == Fault::echoes) {
            active_ = fault_;
            held_.clear();
        }
    }
    if (active_ == Fault::cableGone) {
        throw FlasherError::serialPortClosed();
    }
    if (active_ == Fault::lineStalls) {
        throw FlasherError::sambaTimeout();
    }
    if (active_ == Fault::monitorSilent && !triggers) {
        return;
    }
    if (active_ == Fault::replyLate) {
        // The late reply comes now, ahead of whatever this write brings.
        active_.reset();
        const Bytes late = std::exchange(late_, {});
        hold(late, std::max<std::size_t>(late.size(), 1));
    }
    if (active_ == Fault::echoes && isCommand) {
        hold(Bytes(data.begin(), data.end()), data.size());
        active_ = command == "N#" ? std::nullopt : active_;
    }
    inner_->write(data);
    if (!triggers || fault_ == Fault::monitorSilent || fault_ == Fault::echoes) {
        return;
    }
    Bytes reply = takeReply(command);
    if (fault_ == Fault::replyLate) {
        late_ = std::move(reply);
        active_ = Fault::replyLate;
        return;
    }
    if (fault_ == Fault::replyCutShort) {
        reply.resize(reply.size() - std::min(amount_, reply.size()));
    } else if (fault_ == Fault::wrongReplyByte && amount_ < reply.size()) {
        reply[amount_] ^= 0xFF;
    } else if (fault_ == Fault::strayBytes) {
        hold(Bytes(amount_, 0xA5), 64); // bytes that do not look like text
    }
    hold(reply, std::max<std::size_t>(reply.size(), 1));
}

Bytes FaultInjectingTransport::takeReply(const std::string& command) {
    // Collect the whole reply now, so that it can be changed or delayed before the client sees
    // any of it; a word or block reply by its length, anything else until the line is quiet.
    const bool sized = command.starts_with("w") || command.starts_with("R");
    const std::size_t expected = command.starts_with("w") ? 4 : lengthField(command);
    Bytes reply;
    while (!sized || reply.size() < expected) {
        const Bytes chunk =
            inner_->read(sized ? expected - reply.size() : 4096, sized ? 3.0 : 0.05);
        if (chunk.empty()) {
            break;
        }
        reply.insert(reply.end(), chunk.begin(), chunk.end());
    }
    return reply;
}

Bytes FaultInjectingTransport::read(std::size_t max, double timeout) {
    if (active_ == Fault::cableGone) {
        throw FlasherError::serialPortClosed();
    }
    if (!held_.empty()) {
        Bytes& packet = held_.front();
        const std::size_t n = std::min(max, packet.size());
        Bytes out(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(n));
        packet.erase(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(n));
        if (packet.empty()) {
            held_.pop_front();
        }
        return out;
    }
    if (active_ == Fault::monitorSilent || active_ == Fault::replyLate) {
        return {};
    }
    return inner_->read(max, timeout);
}

void FaultInjectingTransport::close() noexcept {
    ++closes_;
    held_.clear();
    late_.clear();
    payloadRemaining_ = 0;
    inner_->close();
}

std::function<std::unique_ptr<ByteTransport>(const SerialPort&)>
FaultInjectingTransport::lendingOpener(std::shared_ptr<FaultInjectingTransport> transport) {
    return [transport](const SerialPort&) -> std::unique_ptr<ByteTransport> {
        ++transport->opens_;
        return std::make_unique<SharedTransport>(transport);
    };
}

} // namespace pelwick::testing
