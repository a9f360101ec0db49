#pragma once

#include <cstdint>
#include <string>

namespace pelwick {

/// printf-style formatting into a std::string (GCC 12 has no std::format).
[[gnu::format(printf, 1, 2)]] std::string formatString(const char* format, ...);

/// Lowercase hexadecimal without leading zeros, as used after a literal "0x" in texts that are
/// built by concatenation ("0x1c000").
std::string lowerHex(std::uint64_t value);

/// Eight uppercase hexadecimal digits, zero-filled ("0x%08X" without the prefix).
std::string upperHex8(std::uint32_t value);

} // namespace pelwick
