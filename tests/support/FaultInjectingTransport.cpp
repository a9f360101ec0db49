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
    if (active_ == Fault::monitorSilent) {
        ++dropped_;
        return;
    }
    if (!shouldTrigger(isCommand)) {
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
    case Fault::wrongReplyByte:
        inner_->write(data);
        takeReply(command);
        if (plan.fault == Fault::replyCutShort) {
            held_.resize(held_.size() - std::min(plan.amount, held_.size()));
        } else if (plan.amount < held_.size()) {
            held_[plan.amount] ^= 0xFF;
        }
        return;
    }
}

void FaultInjectingTransport::takeReply(const std::string& command) {
    // Collect the whole reply now, so that it can be changed before the client sees any of it.
    const auto expected = expectedReplyLength(command);
    for (;;) {
        const std::size_t want = expected ? *expected - std::min(*expected, held_.size()) : 4096;
        if (want == 0) {
            return;
        }
        const Bytes chunk = inner_->read(want, expected ? 3.0 : 0.05);
        if (chunk.empty()) {
            return;
        }
        held_.insert(held_.end(), chunk.begin(), chunk.end());
    }
}

Bytes FaultInjectingTransport::read(std::size_t max, double timeout) {
    if (active_ == Fault::cableGone) {
        throw FlasherError::serialPortClosed();
    }
    if (active_ == Fault::monitorSilent) {
        return {};
    }
    if (!held_.empty()) {
        const std::size_t n = std::min(max, held_.size());
        Bytes out(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }
    return inner_->read(max, timeout);
}

void FaultInjectingTransport::close() noexcept {
    ++closes_;
    held_.clear();
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
