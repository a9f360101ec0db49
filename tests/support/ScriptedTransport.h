#pragma once

#include "device/ByteTransport.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// A transport that records every byte written and answers from a script: each write may queue a
/// reply chosen by a responder, and replies queued up front are handed out in order. Reads never
/// wait: an empty queue answers empty at once (so exact reads time out immediately).
class ScriptedTransport : public ByteTransport {
public:
    /// Called for every write with the bytes written; returns the bytes to queue as its reply.
    using Responder = std::function<Bytes(const Bytes& written)>;

    void write(ByteView data) override;
    Bytes read(std::size_t max, double timeout) override;
    void close() noexcept override {}

    /// Queues reply bytes for the next reads.
    void queue(const Bytes& bytes);

    /// Every write as it arrived.
    std::vector<Bytes> writes;
    /// The writes that end in '#' (commands), as text.
    std::vector<std::string> commands() const;

    Responder responder;

private:
    std::deque<std::uint8_t> pending_;
};

} // namespace pelwick::testing
