#include "support/RecordingTransport.h"

namespace pelwick::testing {

RecordingTransport::RecordingTransport(std::unique_ptr<ByteTransport> inner)
    : inner_(std::move(inner)) {}

RecordingTransport::RecordingTransport(std::shared_ptr<ByteTransport> inner)
    : inner_(std::move(inner)) {}

void RecordingTransport::write(ByteView data) {
    inner_->write(data);
    stream_.push_back({RecordedChunk::Direction::sent, Bytes(data.begin(), data.end())});
}

Bytes RecordingTransport::read(std::size_t max, double timeout) {
    Bytes reply = inner_->read(max, timeout);
    if (reply.empty()) {
        stream_.push_back({RecordedChunk::Direction::quiet, {}, timeout});
    } else {
        if (stream_.empty() || stream_.back().direction != RecordedChunk::Direction::received) {
            stream_.push_back({RecordedChunk::Direction::received, {}});
        }
        Bytes& chunk = stream_.back().bytes;
        chunk.insert(chunk.end(), reply.begin(), reply.end());
    }
    return reply;
}

void RecordingTransport::close() noexcept {
    inner_->close();
}

std::size_t RecordingTransport::bytesSent() const {
    std::size_t total = 0;
    for (const auto& chunk : stream_) {
        total += chunk.direction == RecordedChunk::Direction::sent ? chunk.bytes.size() : 0;
    }
    return total;
}

std::size_t RecordingTransport::bytesReceived() const {
    std::size_t total = 0;
    for (const auto& chunk : stream_) {
        total += chunk.direction == RecordedChunk::Direction::received ? chunk.bytes.size() : 0;
    }
    return total;
}

} // namespace pelwick::testing
