#include "device/SerialPort.h"

#include "util/FileIO.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <utility>

namespace pelwick {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool startsWithAny(const std::string& text, std::initializer_list<const char*> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char* prefix) { return text.starts_with(prefix); });
}

} // namespace

std::string SerialPort::name() const {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool SerialPort::isModemPort() const {
    return isConfirmedSambaPort() || startsWithAny(lowercased(name()), {"cu.usbmodem", "ttyacm"});
}

bool SerialPort::isLikelyProgrammingCable() const {
    return isConfirmedSambaPort() ||
           startsWithAny(lowercased(name()), {"cu.usbmodem", "cu.usbserial", "ttyacm", "ttyusb"});
}

int SerialPort::rank() const {
    const std::string lower = lowercased(name());
    if (startsWithAny(lower, {"cu.usbmodem", "ttyacm"})) {
        return 0;
    }
    if (startsWithAny(lower, {"cu.usbserial", "ttyusb"})) {
        return 1;
    }
    return 2;
}

std::vector<SerialPort> programmingCables(const std::vector<SerialPort>& ports) {
    std::vector<SerialPort> cables;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(cables),
                 [](const SerialPort& port) { return port.isLikelyProgrammingCable(); });
    return cables;
}

std::vector<SerialPort> preferredOrder(std::vector<SerialPort> cables) {
    // A port whose USB id is the SAM-BA monitor's goes before every other, whatever its name.
    auto key = [](const SerialPort& port) {
        return std::pair(port.isConfirmedSambaPort() ? 0 : 1, port.rank());
    };
    std::stable_sort(cables.begin(), cables.end(),
                     [&](const SerialPort& a, const SerialPort& b) { return key(a) < key(b); });
    return cables;
}

std::vector<SerialPort> connectionCandidates(const std::vector<SerialPort>& ports) {
    std::vector<SerialPort> candidates = preferredOrder(programmingCables(ports));
    std::erase_if(candidates, [](const SerialPort& port) { return !port.isModemPort(); });
    if (std::any_of(candidates.begin(), candidates.end(),
                    [](const SerialPort& port) { return port.isConfirmedSambaPort(); })) {
        std::erase_if(candidates,
                      [](const SerialPort& port) { return !port.isConfirmedSambaPort(); });
    }
    return candidates;
}

bool isTerminalDevice(const std::filesystem::path& path, const std::filesystem::path& sysfsRoot) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return false;
    }
    // Pseudo-terminals (majors 136 to 143) have no entry in sysfs; every other terminal belongs
    // to the tty class there.
    const unsigned majorNumber = major(node.st_rdev);
    if (majorNumber >= 136 && majorNumber <= 143) {
        return true;
    }
    std::error_code error;
    const auto subsystem = std::filesystem::read_symlink(
        sysfsRoot / "dev" / "char" /
            (std::to_string(majorNumber) + ":" + std::to_string(minor(node.st_rdev))) / "subsystem",
        error);
    return !error && subsystem.filename() == "tty";
}

std::vector<SerialPort> DeviceSerialPortListing::listPorts() const {
    std::error_code code;
    std::filesystem::directory_iterator entries(deviceDirectory_, code);
    if (code) {
        throw FileAccessError("list", deviceDirectory_, code);
    }
    std::vector<SerialPort> ports;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (startsWithAny(name, {"cu.", "ttyACM", "ttyUSB"})) {
            ports.push_back(
                SerialPort{(deviceDirectory_ / name).string(), readUsbIdentity(sysfsRoot_, name)});
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPort& a, const SerialPort& b) { return a.path < b.path; });
    return ports;
}

} // namespace pelwick
