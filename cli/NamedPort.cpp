#include "NamedPort.h"

#include "device/FlasherError.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>

namespace pelwick {

namespace {

[[noreturn]] void refuseNotATerminal(const std::string& path) {
    throw std::runtime_error(path +
                             " is not a serial port. The calculator's monitor appears as a "
                             "ttyACM… (or cu.usbmodem…) device; pass that device with --port.");
}

} // namespace

SerialPort resolveNamedPort(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (error) {
        throw FlasherError::serialOpenFailed(path, error.value());
    }
    if (!isTerminalDevice(resolved)) {
        refuseNotATerminal(path);
    }
    return SerialPort{resolved.string()};
}

void requirePossiblePort(const std::string& path) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !isTerminalDevice(path)) {
        refuseNotATerminal(path);
    }
}

} // namespace pelwick
