#include "device/ByteTransport.h"

#include "device/FlasherError.h"
#include "util/Clock.h"

#include <algorithm>

namespace pelwick {

Bytes ByteTransport::readExactly(std::size_t count, double timeout) {
    Bytes result;
    result.reserve(count);
    const auto deadline = deadlineAfter(timeout);
    while (result.size() < count) {
        const double remaining = secondsUntil(deadline);
        if (remaining <= 0) {
            throw FlasherError::sambaTimeout();
        }
        Bytes chunk = read(count - result.size(), remaining);
        if (chunk.empty()) {
            throw FlasherError::sambaTimeout();
        }
        result.insert(result.end(), chunk.begin(), chunk.end());
    }
    return result;
}

void ByteTransport::discardAvailable(double timeout) {
    (void)read(4096, timeout);
}

std::size_t ByteTransport::discardUntilQuiet(double quietSeconds, double limitSeconds) {
    const auto limit = deadlineAfter(limitSeconds);
    std::size_t dropped = 0;
    for (;;) {
        const double left = secondsUntil(limit);
        const Bytes chunk = read(4096, std::clamp(left, 0.0, quietSeconds));
        dropped += chunk.size();
        if (chunk.empty() || left <= 0) {
            return dropped;
        }
    }
}

} // namespace pelwick
