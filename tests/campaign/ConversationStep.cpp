#include "campaign/ConversationStep.h"

#include "flash/FlashCalw.h"
#include "samba/SambaFlashApplet.h"
#include "util/Format.h"

namespace pelwick::testing {

namespace {

constexpr std::uint32_t kMailbox = SambaFlashApplet::mailboxAddress;

std::uint32_t addressOf(const std::string& command) {
    return static_cast<std::uint32_t>(std::stoul(command.substr(1), nullptr, 16));
}

const char* phaseName(SequencePhase phase) {
    switch (phase) {
    case SequencePhase::connect:
        return "connect";
    case SequencePhase::backup:
        return "backup";
    case SequencePhase::writeIdentify:
        return "write-identify";
    case SequencePhase::appletStart:
        return "applet-start";
    case SequencePhase::unlock:
        return "unlock";
    case SequencePhase::page:
        return "page";
    case SequencePhase::verify:
        return "verify";
    }
    return "?";
}

const char* roleName(StepRole role) {
    switch (role) {
    case StepRole::binaryMode:
        return "binary-mode";
    case StepRole::version:
        return "version";
    case StepRole::identifyWord:
        return "identify";
    case StepRole::blockRead:
        return "block-read";
    case StepRole::mailboxWrite:
        return "mailbox-write";
    case StepRole::go:
        return "go";
    case StepRole::poll:
        return "poll";
    case StepRole::status:
        return "status";
    case StepRole::result:
        return "result";
    case StepRole::send:
        return "send";
    case StepRole::payload:
        return "payload";
    }
    return "?";
}

StepRole roleOf(const std::string& command) {
    if (command == "N#") {
        return StepRole::binaryMode;
    }
    if (command == "V#") {
        return StepRole::version;
    }
    switch (command.front()) {
    case 'R':
        return StepRole::blockRead;
    case 'W':
        return StepRole::mailboxWrite;
    case 'G':
        return StepRole::go;
    case 'S':
        return StepRole::send;
    default:
        break;
    }
    const std::uint32_t address = addressOf(command);
    if (address == kMailbox) {
        return StepRole::poll;
    }
    if (address == kMailbox + 0x04) {
        return StepRole::status;
    }
    if (address == FlashCalw::cpuid || address == FlashCalw::chipidCIDR ||
        address == FlashCalw::chipidEXID) {
        return StepRole::identifyWord;
    }
    return StepRole::result;
}

} // namespace

bool ConversationStep::awaitsReply() const {
    switch (role) {
    case StepRole::version:
    case StepRole::identifyWord:
    case StepRole::blockRead:
    case StepRole::poll:
    case StepRole::status:
    case StepRole::result:
        return true;
    default:
        return false;
    }
}

std::uint32_t ConversationStep::replyWord(std::optional<std::size_t> invertedByte) const {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4 && i < reply.size(); ++i) {
        const std::uint8_t byte = invertedByte == i ? reply[i] ^ 0xFF : reply[i];
        word |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    return word;
}

std::string ConversationStep::kind() const {
    std::string text = std::string(phaseName(phase)) + " " + roleName(role);
    if (role == StepRole::identifyWord || role == StepRole::result) {
        text += " " + formatString("%08X", address);
    }
    return text;
}

std::string ConversationStep::describe() const {
    std::string text = phaseName(phase);
    if (phase == SequencePhase::page) {
        text += " " + std::to_string(page);
    }
    text += std::string(" ") + roleName(role) + " " + command;
    return text;
}

std::vector<ConversationStep> labelConversation(const std::vector<std::string>& commands,
                                                const std::vector<Bytes>& replies,
                                                std::size_t connectCommands,
                                                std::size_t backupCommands) {
    auto replyTo = [&](int write) {
        const auto index = static_cast<std::size_t>(write - 1);
        return index < replies.size() ? replies[index] : Bytes{};
    };
    std::vector<ConversationStep> steps;
    SequencePhase phase = SequencePhase::connect;
    int page = 0;
    int writeIdentifyLeft = 3;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string& command = commands[i];
        if (i < connectCommands) {
            phase = SequencePhase::connect;
        } else if (i < connectCommands + backupCommands) {
            phase = SequencePhase::backup;
        } else if (writeIdentifyLeft > 0) {
            phase = SequencePhase::writeIdentify;
            --writeIdentifyLeft;
        } else if (command.starts_with(formatString("S%08X,", SambaFlashApplet::loadAddress))) {
            phase = SequencePhase::appletStart;
        } else if (command == formatString("W%08X,%08X#", kMailbox, 0x05u)) {
            phase = SequencePhase::unlock;
        } else if (command.starts_with("S")) {
            phase = SequencePhase::page;
            ++page;
        } else if (command.starts_with("R")) {
            phase = SequencePhase::verify;
        }
        ConversationStep step;
        step.write = static_cast<int>(steps.size()) + 1;
        step.command = command;
        step.phase = phase;
        step.role = roleOf(command);
        step.page = phase == SequencePhase::page ? page : 0;
        step.address = command.starts_with("w") ? addressOf(command) : 0;
        step.reply = replyTo(step.write);
        steps.push_back(step);
        if (step.role == StepRole::send) {
            step.write += 1;
            step.role = StepRole::payload;
            step.reply = replyTo(step.write);
            steps.push_back(step);
        }
    }
    return steps;
}

} // namespace pelwick::testing
