#include "support/FaultInjectingTransport.h"

#include "device/FlasherError.h"

#include <algorithm>

namespace pelwick::testing {

namespace {

// The second number of "R<address>,<length>#" or "S<address>,<length>#".
std::size_t lengthField(const std::string& command) {
    const auto comma = command.find(',');
    if (comma == std::string::npos) {
        return 0;
    }
    try {
        return static_cast<std::size_t>(std::stoul(command.substr(comma + 1), nullptr, 16));
    } catch (const std::exception&) {
        return 0;
    }
}

// How many reply bytes a binary-mode command gets, when the command says so.
std::optional<std::size_t> expectedReplyLength(const std::string& command) {
    if (command.starts_with("w")) {
        return 4;
    }
    if (command.starts_with("R")) {
        return lengthField(command);
    }
    return std::nullopt;
}

} // namespace

FaultInjectingTransport::FaultInjectingTransport(std::unique_ptr<ByteTransport> inner)
    : inner_(std::move(inner)) {}

FaultInjectingTransport::FaultInjectingTransport(std::shared_ptr<ByteTransport> inner)
    : inner_(std::move(inner)) {}

void FaultInjectingTransport::injectAtWrite(int writeNumber, Fault fault, std::size_t amount) {
    plan_ = Plan{fault, amount, writeNumber, {}};
}

void FaultInjectingTransport::injectWhen(CommandPredicate predicate, Fault fault,
                                         std::size_t amount) {
    plan_ = Plan{fault, amount, std::nullopt, std::move(predicate)};
}

void FaultInjectingTransport::heal() {
    plan_.reset();
    active_.reset();
    held_.clear();
    late_.clear();
}

Bytes FaultInjectingTransport::strayData(std::size_t count) {
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = static_cast<std::uint8_t>(0xA5 + 0x3B * i);
    }
    return data;
}

void FaultInjectingTransport::hold(const Bytes& bytes, std::size_t packetSize) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += packetSize) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        held_.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(
                                              std::min(packetSize, bytes.size() - offset)));
    }
}

FaultInjectingTransport::CommandPredicate FaultInjectingTransport::commandIs(std::string command) {
    return [command](const std::vector<std::string>& history) { return history.back() == command; };
}

FaultInjectingTransport::CommandPredicate
FaultInjectingTransport::nthCommandStartingWith(std::string prefix, int occurrence) {
    return [prefix, occurrence](const std::vector<std::string>& history) {
        if (!history.back().starts_with(prefix)) {
            return false;
        }
        const auto seen = std::count_if(history.begin(), history.end(), [&](const auto& command) {
            return command.starts_with(prefix);
        });
        return seen == occurrence;
    };
}

bool FaultInjectingTransport::shouldTrigger(bool isCommand) const {
    if (!plan_) {
        return false;
    }
    if (plan_->atWrite) {
        return *plan_->atWrite == writes_;
    }
    return isCommand && plan_->predicate && plan_->predicate(commands_);
}

void FaultInjectingTransport::write(ByteView data) {
    ++writes_;
    const bool isCommand = payloadRemaining_ == 0 && !data.empty() && data.back() == '#';
    std::string command;
    if (isCommand) {
        command.assign(data.begin(), data.end());
        commands_.push_back(command);
        if (command.starts_with("S")) {
            payloadRemaining_ = lengthField(command);
        }
    } else {
        payloadRemaining_ -= std::min(payloadRemaining_, data.size());
    }

    if (active_ == Fault::cableGone) {
        throw FlasherError::serialPortClosed();
    }
    if (active_ == Fault::monitorSilent || active_ == Fault::lineStalls) {
        ++dropped_;
        if (active_ == Fault::lineStalls) {
            throw FlasherError::sambaTimeout();
        }
        return;
    }
    if (active_ == Fault::replyLate) {
        // The late reply comes now, ahead of whatever this write brings.
        active_.reset();
        hold(late_, late_.size());
        late_.clear();
    }
    const bool triggers = shouldTrigger(isCommand);
    if (active_ == Fault::echoes && isCommand) {
        hold(Bytes(data.begin(), data.end()), data.size());
        if (command == "N#") {
            active_.reset();
        }
    }
    if (!triggers) {
        inner_->write(data);
        return;
    }

    const Plan plan = *plan_;
    plan_.reset();
    triggeredAtWrite_ = writes_;
    triggeringCommand_ = command;
    switch (plan.fault) {
    case Fault::cableGone:
        active_ = Fault::cableGone;
        throw FlasherError::serialPortClosed();
    case Fault::monitorSilent:
        inner_->write(data);
        active_ = Fault::monitorSilent;
        held_.clear();
        return;
    case Fault::replyCutShort:
    case Fault::wrongReplyByte: {
        inner_->write(data);
        Bytes reply = takeReply(command);
        if (plan.fault == Fault::replyCutShort) {
            reply.resize(reply.size() - std::min(plan.amount, reply.size()));
        } else if (plan.amount < reply.size()) {
            reply[plan.amount] ^= 0xFF;
        }
        hold(reply, std::max<std::size_t>(reply.size(), 1));
        return;
    }
    case Fault::strayBytes: {
        inner_->write(data);
        const Bytes reply = takeReply(command);
        hold(strayData(plan.amount), 64);
        hold(reply, std::max<std::size_t>(reply.size(), 1));
        return;
    }
    case Fault::replyLate:
        inner_->write(data);
        late_ = takeReply(command);
        active_ = Fault::replyLate;
        return;
    case Fault::echoes:
        active_ = Fault::echoes;
        hold(Bytes(data.begin(), data.end()), data.size());
        if (command == "N#") {
            active_.reset();
        }
        inner_->write(data);
        return;
    case Fault::lineStalls:
        active_ = Fault::lineStalls;
        ++dropped_;
        throw FlasherError::sambaTimeout();
    }
}

Bytes FaultInjectingTransport::takeReply(const std::string& command) {
    // Collect the whole reply now, so that it can be changed or delayed before the client sees
    // any of it.
    const auto expected = expectedReplyLength(command);
    Bytes reply;
    for (;;) {
        const std::size_t want = expected ? *expected - std::min(*expected, reply.size()) : 4096;
        if (want == 0) {
            return reply;
        }
        const Bytes chunk = inner_->read(want, expected ? 3.0 : 0.05);
        if (chunk.empty()) {
            return reply;
        }
        reply.insert(reply.end(), chunk.begin(), chunk.end());
    }
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
