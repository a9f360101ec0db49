#pragma once

#include "device/ByteTransport.h"
#include "device/SerialPort.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>

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
    /// One byte of the reply to the triggering command (index `amount`) is inverted.
    wrongReplyByte,
    /// `amount` stray bytes (like the rest of a block an earlier program never read) arrive ahead
    /// of the reply to the triggering command, in packets of 64 bytes.
    strayBytes,
    /// The reply to the triggering command comes too late for its exchange: after the client's
    /// next write, ahead of the reply to that.
    replyLate,
    /// From the triggering command until "N#" switches it to binary mode, the monitor echoes every
    /// command, as one left in terminal mode does; each echo comes in a packet of its own.
    echoes,
    /// The line stops taking data: the triggering write and every later one fail with the generic
    /// time-out, as a write whose drain never ends does, and none of them reaches the monitor.
    lineStalls,
};

/// Wraps any transport and injects one fault: at the N-th write, or at the first command that a
/// predicate picks. Counts writes, commands, opens and closes. Bytes it makes up itself come in
/// packets, one per read, as a USB line hands them over.
class FaultInjectingTransport : public ByteTransport {
public:
    /// Sees each command (a write ending in '#') with every command before it; `history.back()` is
    /// the command itself.
    using CommandPredicate = std::function<bool(const std::vector<std::string>& history)>;

    explicit FaultInjectingTransport(std::shared_ptr<ByteTransport> inner);

    /// Triggers at the `writeNumber`-th write (1-based; payloads count as writes too).
    void injectAtWrite(int writeNumber, Fault fault, std::size_t amount = 1);
    /// Triggers at the first command for which `predicate` holds.
    void injectWhen(CommandPredicate predicate, Fault fault, std::size_t amount = 1);

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
    /// How many of them begin with `prefix`.
    long commandsStartingWith(const std::string& prefix) const {
        return std::ranges::count_if(commands_,
                                     [&](const std::string& c) { return c.starts_with(prefix); });
    }
    /// Whether the fault has gone off.
    bool triggered() const { return triggered_; }

private:
    // Collects the whole reply to `command` from the inner transport.
    Bytes takeReply(const std::string& command);
    void hold(const Bytes& bytes, std::size_t packetSize);

    std::shared_ptr<ByteTransport> inner_;
    Fault fault_ = Fault::cableGone;
    std::size_t amount_ = 0;
    std::optional<int> atWrite_;
    CommandPredicate predicate_;
    std::optional<Fault> active_;
    std::deque<Bytes> held_;           // made-up or mangled bytes waiting to be read, by packet
    Bytes late_;                       // a late reply, held back until the next write
    std::size_t payloadRemaining_ = 0; // bytes of an "S" payload still to come
    int writes_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    std::vector<std::string> commands_;
    bool triggered_ = false;
};

} // namespace pelwick::testing
