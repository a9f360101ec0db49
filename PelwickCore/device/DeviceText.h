#pragma once

#include <string>
#include <string_view>

namespace pelwick {

/// Text that came from a device (the monitor's version line, the names a USB device gives), made
/// safe to show in a terminal or a label: valid UTF-8 passes unchanged, except control characters
/// (C0, DEL, C1) and the characters that reorder text on screen (bidirectional overrides and
/// isolates), whose bytes appear as "\xNN"; every byte that is not part of valid UTF-8 appears as
/// "\xNN" too. No escape sequence, line break or invalid byte gets through.
std::string escapedDeviceText(std::string_view bytes);

} // namespace pelwick
