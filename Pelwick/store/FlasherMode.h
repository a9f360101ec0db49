#pragma once

#include <array>
#include <optional>
#include <string>

namespace pelwick {

/// The session mode chosen on the welcome screen.
enum class FlasherMode { demo, flash, batch, probe };

/// The four modes in their order on the welcome screen (and of the shortcut's cycle).
inline constexpr std::array<FlasherMode, 4> allFlasherModes = {
    FlasherMode::demo, FlasherMode::flash, FlasherMode::batch, FlasherMode::probe};

/// The text stored in the settings: "demo", "flash", "batch", "probe".
inline std::string rawValue(FlasherMode mode) {
    switch (mode) {
    case FlasherMode::demo:
        return "demo";
    case FlasherMode::flash:
        return "flash";
    case FlasherMode::batch:
        return "batch";
    case FlasherMode::probe:
        return "probe";
    }
    return "demo";
}

/// The mode whose raw value is exactly `raw`; none for anything else.
inline std::optional<FlasherMode> flasherModeFromRaw(const std::string& raw) {
    for (FlasherMode mode : allFlasherModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace pelwick
