#pragma once

#include <filesystem>

namespace pelwick {

/// The DEMO sample image that the build writes beside the program: 114,688 bytes for the
/// simulated calculator that are not calculator firmware.
namespace DemoImage {

/// Opens the image and repeats every 4 KiB, so anyone looking into the file sees what it is.
inline constexpr char banner[] =
    "PELWICK DEMO IMAGE - NOT CALCULATOR FIRMWARE. Made by the Pelwick build for the DEMO "
    "mode's simulated calculator only. Never write it to a real calculator.";

/// The file begins with the banner (a copy of the sample image, wherever it lies).
bool isDemoPattern(const std::filesystem::path& file);

} // namespace DemoImage

} // namespace pelwick
