#include "NamedPort.h"

#include "CommandError.h"

#include "device/FlasherError.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pelwick {

namespace {

[[noreturn]] void refuseNotASerialPort(const std::string& path) {
    throw CommandError("notASerialPort",
                       path + " is not a serial port. The calculator's monitor appears as a "
                              "ttyACM… (or cu.usbmodem…) device; pass that device with --port.");
}

} // namespace

bool couldBeACable(const std::filesystem::path& path) {
    struct stat node {};
    if (!isTerminalDevice(path) || ::stat(path.c_str(), &node) != 0) {
        return false;
    }
    const unsigned majorNumber = major(node.st_rdev);
    if (majorNumber == 5 || (majorNumber == 4 && minor(node.st_rdev) < 64)) {
        return false;
    }
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat own {};
        if (::isatty(fd) && ::fstat(fd, &own) == 0 && own.st_rdev == node.st_rdev) {
            return false;
        }
    }
    return true;
}

SerialPort resolveNamedPort(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    if (error) {
        throw FlasherError::serialOpenFailed(path, error.value());
    }
    if (!couldBeACable(resolved)) {
        refuseNotASerialPort(path);
    }
    return SerialPort{resolved.string()};
}

void requirePossiblePort(const std::string& path) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !couldBeACable(path)) {
        refuseNotASerialPort(path);
    }
}

} // namespace pelwick
