#include "device/ByteTransport.h"

#include "device/FlasherError.h"
#include "util/Clock.h"

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

} // namespace pelwick
