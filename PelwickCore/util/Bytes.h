#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pelwick {

/// A byte buffer: firmware images, replies from the monitor, payloads of block commands.
using Bytes = std::vector<std::uint8_t>;

/// A read-only view of bytes, so that large images are passed without copying.
using ByteView = std::span<const std::uint8_t>;

} // namespace pelwick
