#pragma once

#include "device/ByteTransport.h"

#include <memory>
#include <vector>

namespace pelwick::testing {

/// One step of a recorded conversation: bytes the client sent, the reply bytes it read, or a wait
/// in which nothing arrived (a discard on a quiet line), with how long the client waited.
struct RecordedChunk {
    enum class Direction { sent, received, quiet };
    Direction direction;
    Bytes bytes;
    double quietSeconds = 0;

    bool operator==(const RecordedChunk& other) const = default;
};

/// Passes everything through to another transport and records the whole stream: every write, and
/// the bytes of every read that returned some (consecutive reads form one received chunk, so a
/// reply collected in pieces is one chunk). A read that returned nothing is recorded as a quiet
/// wait of its time-out: a client replaying the stream has to wait as long to know the line is
/// quiet.
class RecordingTransport : public ByteTransport {
public:
    explicit RecordingTransport(std::unique_ptr<ByteTransport> inner);
    explicit RecordingTransport(std::shared_ptr<ByteTransport> inner);

    void write(ByteView data) override;
    Bytes read(std::size_t max, double timeout) override;
    void close() noexcept override;

    /// The stream so far, in order.
    const std::vector<RecordedChunk>& stream() const { return stream_; }
    std::size_t bytesSent() const;
    std::size_t bytesReceived() const;

private:
    std::shared_ptr<ByteTransport> inner_;
    std::vector<RecordedChunk> stream_;
};

} // namespace pelwick::testing
