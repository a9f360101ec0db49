#pragma once

#include "device/ByteTransport.h"

#include <memory>
#include <vector>

namespace pelwick::testing {

/// One step of a recorded conversation: bytes the client sent, or the reply bytes it read.
struct RecordedChunk {
    enum class Direction { sent, received };
    Direction direction;
    Bytes bytes;

    bool operator==(const RecordedChunk& other) const = default;
};

/// Passes everything through to another transport and records the whole stream: every write, and
/// the bytes of every read that returned some (consecutive reads form one received chunk, so a
/// reply collected in pieces is one chunk). Reads that returned nothing are not part of the stream.
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
