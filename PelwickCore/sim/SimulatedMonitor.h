#pragma once

#include "device/ByteTransport.h"
#include "util/Clock.h"

#include <cstdint>
#include <optional>
#include <string>

namespace pelwick {

/// The SAM-BA monitor of a simulated chip, behind the transport interface: it parses the bytes the
/// client writes, executes each command against the chip's memory and queues the replies. What
/// memory holds and what a jump does are left to the chip model (the built-in calculator of DEMO
/// mode, or a CPU emulator that runs uploaded code).
class SimulatedMonitor : public ByteTransport {
public:
    /// The version line the monitor answers "V#" with.
    static constexpr const char* versionReply = "v1.1 Dec 15 2013 19:03:14\r\n";
    /// Reads and sends longer than this are refused ("bad command …"): a hostile length must not
    /// make the simulator allocate or loop without bound.
    static constexpr std::uint32_t maximumTransferLength = 1u << 20;

    explicit SimulatedMonitor(double operationDelay, SleepFunction sleep = sleepFor);

    /// Consumes client bytes and executes complete commands; an unknown or malformed command
    /// fails with sambaProtocol. Fails with notConnected while `closed`.
    void write(ByteView data) override;
    /// Returns queued reply bytes at once; never waits, since every reply is queued while its
    /// command is written.
    Bytes read(std::size_t max, double timeout) override;
    /// Empties the buffers; memory and `closed` stay.
    void close() noexcept override;

    std::uint32_t loadWord(std::uint32_t address) const;
    void storeWord(std::uint32_t address, std::uint32_t value);

    /// Simulated transfer time per started 512-byte block.
    double operationDelay() const { return operationDelay_; }
    void setOperationDelay(double seconds) { operationDelay_ = seconds; }
    /// While set, every read and write fails with notConnected (a holder's way to pull the cable).
    bool closed() const { return closed_; }
    void setClosed(bool closed) { closed_ = closed; }

protected:
    /// Sleeps as the monitor does (nothing for zero or less).
    void pause(double seconds);
    /// One byte of the address space (0xFF for bytes never written).
    virtual std::uint8_t loadByte(std::uint32_t address) const = 0;
    virtual void storeByte(std::uint32_t address, std::uint8_t value) = 0;
    /// What the monitor's "W" does; by default stores the word.
    virtual void monitorStoreWord(std::uint32_t address, std::uint32_t value);
    /// What the monitor's "G" does.
    virtual void jump(std::uint32_t address) = 0;

private:
    struct PendingPayload {
        std::uint32_t address;
        long long remaining;
        long long total;
    };

    void drainCommands();
    void handle(const std::string& command);
    std::uint32_t parseAddress(const std::string& command) const;
    std::pair<std::uint32_t, std::uint32_t> parseAddressValue(const std::string& command) const;
    void appendWordBytes(std::uint32_t word);
    void delay(long long bytes);
    // Stores payload bytes and returns how many were taken.
    std::size_t takePayload(const std::uint8_t* data, std::size_t size);

    double operationDelay_;
    SleepFunction sleep_;
    bool closed_ = false;
    Bytes inbound_;
    Bytes outbound_;
    std::size_t outboundStart_ = 0;
    std::optional<PendingPayload> pendingPayload_;
};

} // namespace pelwick
