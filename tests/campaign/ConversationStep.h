#pragma once

#include "util/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// Which part of the flash sequence a transport write belongs to.
enum class SequencePhase {
    connect,       ///< "N#", "V#" and the identification of connect
    backup,        ///< the backup read with its own identification
    writeIdentify, ///< the identification at the start of the write
    appletStart,   ///< applet upload and INIT
    unlock,        ///< unlocking the application's lock regions
    page,          ///< one page: buffer, mailbox, go, polls, result
    verify,        ///< reading the region back
};

/// What a transport write does.
enum class StepRole {
    binaryMode,   ///< "N#": its echo is discarded
    version,      ///< "V#": answered by a line
    identifyWord, ///< "w" of CPUID, CIDR or EXID
    blockRead,    ///< "R": answered by a block
    mailboxWrite, ///< "W"
    go,           ///< "G"
    poll,         ///< "w" of the mailbox command word
    status,       ///< "w" of the mailbox status word
    result,       ///< "w" of an applet result word
    send,         ///< "S"
    payload,      ///< the bytes behind an "S"
};

/// One transport write of the clean flash sequence, and where in the sequence it sits.
struct ConversationStep {
    int write = 0;       ///< 1-based transport write number
    std::string command; ///< the command; for a payload, the "S" it belongs to
    SequencePhase phase = SequencePhase::connect;
    StepRole role = StepRole::binaryMode;
    int page = 0;              ///< 1-based page of a page step
    std::uint32_t address = 0; ///< the address a "w" reads
    Bytes reply;               ///< what the monitor answered in the clean sequence

    /// The client waits for an answer to this write (not the discarded echo of "N#").
    bool awaitsReply() const;
    /// The word a "w" was answered with, optionally with one of its bytes inverted.
    std::uint32_t replyWord(std::optional<std::size_t> invertedByte = std::nullopt) const;
    /// "phase role[ address]", the same for every page or region: groups steps for sampling.
    std::string kind() const;
    /// A short readable name: "page 17 poll w20002040,4#".
    std::string describe() const;
};

/// Labels the commands of a clean sequence, given how many of them connect and the backup sent
/// and the reply to every transport write; each "S" is followed by a payload step.
std::vector<ConversationStep> labelConversation(const std::vector<std::string>& commands,
                                                const std::vector<Bytes>& replies,
                                                std::size_t connectCommands,
                                                std::size_t backupCommands);

} // namespace pelwick::testing
