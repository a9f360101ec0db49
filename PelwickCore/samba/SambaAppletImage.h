#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelwick {

// Size of the flash applet image that is uploaded to the calculator's RAM at 0x20002000.
inline constexpr std::size_t sambaAppletImageSize = 2652;

// The flash applet built from applet/ by scripts/build-applet: header words (stack top, entry),
// the zeroed mailbox at offset 0x40, code, padded with zeros to sambaAppletImageSize bytes.
std::span<const std::uint8_t> sambaAppletImage();

} // namespace pelwick
