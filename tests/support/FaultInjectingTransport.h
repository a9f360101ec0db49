#pragma once

#include "device/ByteTransport.h"
#include "device/SerialPort.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// What goes wrong once a fault is triggered.
enum class Fault {
    /// The triggering write and everything after it (reads too) fail with serialPortClosed.
    cableGone,
    /// The triggering write reaches the monitor, then the monitor hangs: later writes are dropped
    /// and every read returns nothing at once, so exact reads time out without waiting.
    monitorSilent,
    /// The reply to the triggering command loses its last `amount` bytes.
    replyCutShort,
    /// One byte of the reply to the triggering command (index `amount`, counted from its start) is
    /// inverted.
    wrongReplyByte,
};

/// Wraps any transport and injects one fault: at the N-th write, or at the first command that a
/// predicate picks. Counts writes, commands, opens and closes, and tells what happened.
class FaultInjectingTransport : public ByteTransport {
public:
    /// Sees each command (a write ending in '#') with every command before it; `history.back()` is
    /// the command itself.
    using CommandPredicate = std::function<bool(const std::vector<std::string>& history)>;

    explicit FaultInjectingTransport(std::unique_ptr<ByteTransport> inner);
    explicit FaultInjectingTransport(std::shared_ptr<ByteTransport> inner);

    /// Triggers at the `writeNumber`-th write (1-based; payloads count as writes too).
    void injectAtWrite(int writeNumber, Fault fault, std::size_t amount = 1);
    /// Triggers at the first command for which `predicate` holds.
    void injectWhen(CommandPredicate predicate, Fault fault, std::size_t amount = 1);
    /// Removes the fault, armed or active; the counters stay.
    void heal();

    /// The command is exactly `command` ("W20002050,00006000#").
    static CommandPredicate commandIs(std::string command);
    /// The `occurrence`-th command (1-based) that begins with `prefix` ("R", "S20002C00").
    static CommandPredicate nthCommandStartingWith(std::string prefix, int occurrence = 1);

    void write(ByteView data) override;
    Bytes read(std::size_t max, double timeout) override;
    void close() noexcept override;

    /// An opener for `Flasher::openTransport` that lends `transport` for every port (closing the
    /// lent transport closes `transport`) and counts the opens.
    static std::function<std::unique_ptr<ByteTransport>(const SerialPort&)>
    lendingOpener(std::shared_ptr<FaultInjectingTransport> transport);

    int writeCount() const { return writes_; }
    int openCount() const { return opens_; }
    int closeCount() const { return closes_; }
    /// Every command written, in order, including the one that triggered and any dropped later.
    const std::vector<std::string>& commands() const { return commands_; }
    /// Whether the fault has gone off, and at which write and command.
    bool triggered() const { return triggeredAtWrite_.has_value(); }
    std::optional<int> triggeredAtWrite() const { return triggeredAtWrite_; }
    const std::string& triggeringCommand() const { return triggeringCommand_; }
    /// Writes that a silent monitor swallowed.
    int droppedWrites() const { return dropped_; }

private:
    struct Plan {
        Fault fault;
        std::size_t amount;
        std::optional<int> atWrite;
        CommandPredicate predicate;
    };

    bool shouldTrigger(bool isCommand) const;
    void takeReply(const std::string& command);

    std::shared_ptr<ByteTransport> inner_;
    std::optional<Plan> plan_;
    std::optional<Fault> active_;
    Bytes held_;                       // a mangled reply waiting to be read
    std::size_t payloadRemaining_ = 0; // bytes of an "S" payload still to come
    int writes_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    int dropped_ = 0;
    std::vector<std::string> commands_;
    std::optional<int> triggeredAtWrite_;
    std::string triggeringCommand_;
};

} // namespace pelwick::testing
